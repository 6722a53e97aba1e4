// The PulseAudio stream on libpulse's asynchronous API: a threaded main loop
// whose thread answers the server's requests for frames with the mixer's pull.
#include "sound/output/pulse/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "config.h"

namespace {

constexpr size_t kFrameBytes = sizeof(int16_t) * kOutputChannels;
// The server's timing report is asked for again once it is this old.
constexpr pa_usec_t kPulseTimingAgeUsec = 50 * PA_USEC_PER_MSEC;

pa_threaded_mainloop* loop = nullptr;
pa_context* context = nullptr;
pa_stream* stream = nullptr;
std::atomic<bool> open{false};

// The stream's write index, in bytes from its start: every frame in it is
// one the program wrote. Under the loop's lock.
int64_t written = 0;
// A timing report asked of the server and not answered yet. Under the loop's
// lock.
bool timingAsked = false;

// Held while the stream opens or closes, and by nothing else: a play that
// finds it taken has no queue to skip.
std::mutex lifecycle;

// What the pull reads is changed under this lock, not libpulse's: it outlives
// every stream, so a lock taken while the stream closes is never left dangling.
std::mutex mixing;
MixerPull pulling;  // set before the stream connects

// What the opening waits for, answered on the loop's thread.
struct Opening {
    bool timedOut = false;
    int serverIsPulseAudio = -1;  // -1: not answered yet
};

void Wake(pa_context*, void*) {
    pa_threaded_mainloop_signal(loop, 0);
}

void WakeStream(pa_stream*, void*) {
    pa_threaded_mainloop_signal(loop, 0);
}

void GiveUp(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* opening) {
    static_cast<Opening*>(opening)->timedOut = true;
    pa_threaded_mainloop_signal(loop, 0);
}

// PipeWire's stand-in names itself "PulseAudio (on PipeWire x.y.z)"; there
// SDL's own PipeWire driver is the quicker way, so this stream stays out.
void NoteServer(pa_context*, const pa_server_info* info, void* opening) {
    const bool itself = info != nullptr && info->server_name != nullptr &&
                        std::strstr(info->server_name, "PipeWire") == nullptr;
    static_cast<Opening*>(opening)->serverIsPulseAudio = itself ? 1 : 0;
    pa_threaded_mainloop_signal(loop, 0);
}

// Under the loop's lock: writes `bytes` of whole frames, mixed as they are
// written, from the stream's index `at` on.
void Write(pa_stream* s, size_t bytes, int64_t at) {
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(s, &data, &size) < 0 || data == nullptr) {
            return;
        }
        size = std::min(size, bytes) / kFrameBytes * kFrameBytes;
        if (size == 0) {
            pa_stream_cancel_write(s);
            return;
        }
        {
            const std::lock_guard lock(mixing);
            pulling.mix(static_cast<int16_t*>(data), size / kFrameBytes, kOutputRate);
        }
        // Relative where it can be: the server accounts the requests by it.
        const bool behind = at == written;
        if (pa_stream_write(s, data, size, nullptr, behind ? 0 : at,
                            behind ? PA_SEEK_RELATIVE : PA_SEEK_ABSOLUTE) < 0) {
            return;
        }
        at += static_cast<int64_t>(size);
        written = at;
        bytes -= size;
    }
}

void NoteTiming(pa_stream*, int, void*) {
    timingAsked = false;
}

// Under the loop's lock: the server's timing report is kept fresh, a few
// tens of milliseconds old at most, so that where the sink reads is known
// after an underrun too.
void KeepTimingFresh(pa_stream* s) {
    const pa_timing_info* timing = pa_stream_get_timing_info(s);
    if (timingAsked ||
        (timing != nullptr && pa_timeval_age(&timing->timestamp) < kPulseTimingAgeUsec)) {
        return;
    }
    pa_operation* asking = pa_stream_update_timing_info(s, NoteTiming, nullptr);
    if (asking != nullptr) {
        timingAsked = true;
        pa_operation_unref(asking);
    }
}

// The server asks for `bytes` more.
void Refill(pa_stream* s, size_t bytes, void*) {
    Write(s, bytes, written);
    KeepTimingFresh(s);
}

// Under the loop's lock: waits until `done` or the opening's time is up.
template <typename Done>
bool WaitFor(const Opening& opening, Done done) {
    while (!done() && !opening.timedOut) {
        pa_threaded_mainloop_wait(loop);
    }
    return done();
}

bool ContextReady(const Opening& opening) {
    bool failed = false;
    const bool settled = WaitFor(opening, [&failed] {
        const pa_context_state_t state = pa_context_get_state(context);
        failed = !PA_CONTEXT_IS_GOOD(state);
        return state == PA_CONTEXT_READY || failed;
    });
    return settled && !failed;
}

bool ServerIsPulseAudio(Opening& opening) {
    pa_operation* asking = pa_context_get_server_info(context, NoteServer, &opening);
    if (asking == nullptr) {
        return false;
    }
    WaitFor(opening, [&opening] { return opening.serverIsPulseAudio >= 0; });
    // Given up on: the answer must not reach an opening that is gone.
    if (pa_operation_get_state(asking) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(asking);
    }
    pa_operation_unref(asking);
    return opening.serverIsPulseAudio == 1;
}

bool StreamReady(const Opening& opening) {
    const pa_sample_spec spec{PA_SAMPLE_S16NE, static_cast<uint32_t>(kOutputRate),
                              static_cast<uint8_t>(kOutputChannels)};
    stream = pa_stream_new(context, "Glowbrand", &spec, nullptr);
    written = 0;
    timingAsked = false;
    if (stream == nullptr) {
        return false;
    }
    pa_stream_set_state_callback(stream, WakeStream, nullptr);
    pa_stream_set_write_callback(stream, Refill, nullptr);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(kPulseQueueFrames * kFrameBytes);
    attributes.prebuf = static_cast<uint32_t>(kPulseRefillFrames * kFrameBytes);
    attributes.minreq = static_cast<uint32_t>(kPulseRefillFrames * kFrameBytes);
    attributes.fragsize = static_cast<uint32_t>(-1);
    // Early requests: the sink buffers no more than one refill, and the long
    // queue waits in the stream, where a new sound can still replace it.
    if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_EARLY_REQUESTS, nullptr,
                                   nullptr) < 0) {
        return false;
    }
    bool failed = false;
    const bool settled = WaitFor(opening, [&failed] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        failed = !PA_STREAM_IS_GOOD(state);
        return state == PA_STREAM_READY || failed;
    });
    return settled && !failed;
}

// Under the loop's lock: lets go of the stream and the server.
void Release() {
    if (stream != nullptr) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
    if (context != nullptr) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
}

// Under the loop's lock: how many bytes at the end of the queue the sink
// cannot have read yet, whole frames. The server's last timing report says
// where the sink read then; it has read on at the stream's rate since while
// it plays, and may be ahead of that by what it buffers (its configured
// latency), by what travels to it meanwhile, and by a refill as granted. A
// rewrite from there on never starts before the sink's read index. Nothing
// where no fresh report is to be trusted: the sound then waits behind the
// queue rather than make the server rewind what its sink already has.
size_t Unread(pa_stream* s) {
    const pa_timing_info* timing = pa_stream_get_timing_info(s);
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(s);
    const pa_sample_spec* spec = pa_stream_get_sample_spec(s);
    if (timing == nullptr || granted == nullptr || spec == nullptr || timing->read_index_corrupt ||
        pa_timeval_age(&timing->timestamp) > 4 * kPulseTimingAgeUsec) {
        return 0;
    }
    int64_t read = timing->read_index;
    if (timing->playing) {
        read += static_cast<int64_t>(pa_usec_to_bytes(pa_timeval_age(&timing->timestamp), spec));
    }
    const pa_usec_t sinkAhead = std::max(timing->sink_usec, timing->configured_sink_usec);
    read += static_cast<int64_t>(pa_usec_to_bytes(sinkAhead + timing->transport_usec, spec) +
                                 granted->minreq);
    const int64_t unread = written - read;
    return unread > 0 ? static_cast<size_t>(unread) / kFrameBytes * kFrameBytes : 0;
}

void EndLoop() {
    pa_threaded_mainloop_lock(loop);
    Release();
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

}  // namespace

bool OpenPulseOutput(const MixerPull& pull) {
    const std::lock_guard held(lifecycle);
    if (open) {
        return true;
    }
    pulling = pull;
    loop = pa_threaded_mainloop_new();
    if (loop == nullptr) {
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Glowbrand");
    if (context == nullptr) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
        return false;
    }
    pa_context_set_state_callback(context, Wake, nullptr);
    // No server is started for the program: where none runs, another output plays.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop) < 0) {
        pa_context_unref(context);
        context = nullptr;
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
        return false;
    }
    Opening opening;
    pa_threaded_mainloop_lock(loop);
    pa_time_event* deadline = pa_context_rttime_new(
        context, pa_rtclock_now() + kServerOpenTimeoutMs * PA_USEC_PER_MSEC, GiveUp, &opening);
    const bool ready = ContextReady(opening) && ServerIsPulseAudio(opening) && StreamReady(opening);
    if (deadline != nullptr) {
        pa_threaded_mainloop_get_api(loop)->time_free(deadline);
    }
    pa_threaded_mainloop_unlock(loop);
    if (!ready) {
        EndLoop();
        return false;
    }
    open = true;
    return true;
}

void ClosePulseOutput() {
    const std::lock_guard held(lifecycle);
    if (!open) {
        return;
    }
    EndLoop();
    open = false;
}

// The queue the sink has not read yet is written again, so the sound just
// started is heard after the sink's short buffer and a refill or so, not
// behind the whole queue. The mixer takes the frames written over back
// first, so a sound cut off fades from the frame last heard.
void SkipPulseQueue() {
    const std::unique_lock held(lifecycle, std::try_to_lock);
    if (!held.owns_lock() || !open) {
        return;
    }
    pa_threaded_mainloop_lock(loop);
    if (stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY) {
        const size_t queued = Unread(stream);
        {
            const std::lock_guard lock(mixing);
            pulling.takeBack(queued / kFrameBytes, kOutputRate);
        }
        Write(stream, queued, written - static_cast<int64_t>(queued));
    }
    pa_threaded_mainloop_unlock(loop);
}

// Not under `lifecycle`: a play's skip only tries that lock, and a check
// holding it once a second would make a play that lands then wait behind the
// whole queue. None is needed, as only the one who opened the stream asks,
// and closes it only after the answer.
bool PulseOutputLost() {
    if (!open) {
        return false;
    }
    pa_threaded_mainloop_lock(loop);
    const bool lost = pa_context_get_state(context) != PA_CONTEXT_READY || stream == nullptr ||
                      pa_stream_get_state(stream) != PA_STREAM_READY;
    pa_threaded_mainloop_unlock(loop);
    return lost;
}

bool DescribePulseOutput(const MixerPull& pull, SoundDeviceFacts& facts) {
    if (!OpenPulseOutput(pull)) {
        return false;
    }
    facts.driver = "pulseaudio (the program's own stream)";
    facts.rate = kOutputRate;
    facts.periodFrames = kPulseRefillFrames;
    facts.silent = false;
    ClosePulseOutput();
    return true;
}

void LockPulseOutput() {
    mixing.lock();
}

void UnlockPulseOutput() {
    mixing.unlock();
}
