// The PipeWire stream on libpipewire's thread loop. The stream is driven by
// the graph: its process callback runs on the realtime data thread once a
// cycle and fills the buffer that cycle plays.
#include "sound/output/pipewire/pipewire_output.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "config.h"

namespace {

constexpr uint32_t kFrameBytes = sizeof(int16_t) * kOutputChannels;

pw_thread_loop* loop = nullptr;
pw_context* context = nullptr;
pw_core* core = nullptr;
pw_registry* registry = nullptr;
pw_stream* stream = nullptr;
spa_hook coreListener{};
spa_hook registryListener{};
spa_hook streamListener{};
std::atomic<bool> open{false};
// Set on the loop's thread once the server connection or the stream failed.
std::atomic<bool> broken{false};

// What the pull reads is changed under this lock; it outlives every stream.
// The realtime thread never waits for it.
std::mutex mixing;
MixerPull pulling;  // set before the stream connects

// What the opening waits for, answered on the loop's thread.
struct Opening {
    int syncSeq = -1;
    bool synced = false;
    bool failed = false;
    bool sinkFound = false;
};
Opening opening;

void Signal() {
    pw_thread_loop_signal(loop, false);
}

void NoteGlobal(void*, uint32_t, uint32_t, const char* type, uint32_t, const spa_dict* props) {
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || props == nullptr) {
        return;
    }
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    if (mediaClass != nullptr && std::strcmp(mediaClass, "Audio/Sink") == 0) {
        opening.sinkFound = true;
    }
}

void NoteDone(void*, uint32_t id, int seq) {
    if (id == PW_ID_CORE && seq == opening.syncSeq) {
        opening.synced = true;
        Signal();
    }
}

// The core's errors are the connection's: the server went away.
void NoteError(void*, uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) {
        opening.failed = true;
        broken = true;
        Signal();
    }
}

void NoteState(void*, pw_stream_state, pw_stream_state state, const char*) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        broken = true;
    }
    Signal();
}

// The graph asks for a cycle's frames: they are mixed now, so a sound
// started since the last cycle is in this one. Where what the pull reads is
// being changed just then, the cycle is silence and the sound goes on in the
// next: the realtime thread never waits.
void Process(void*) {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        return;
    }
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        pw_stream_queue_buffer(stream, buffer);
        return;
    }
    uint32_t frames = data.maxsize / kFrameBytes;
    if (buffer->requested != 0) {
        frames = std::min(frames, static_cast<uint32_t>(buffer->requested));
    }
    const std::unique_lock lock(mixing, std::try_to_lock);
    if (lock.owns_lock()) {
        pulling.mix(static_cast<int16_t*>(data.data), frames, kOutputRate);
    } else {
        std::memset(data.data, 0, frames * kFrameBytes);
    }
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<int32_t>(kFrameBytes);
    data.chunk->size = frames * kFrameBytes;
    pw_stream_queue_buffer(stream, buffer);
}

const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = NoteDone;
    events.error = NoteError;
    return events;
}();

const pw_registry_events kRegistryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = NoteGlobal;
    return events;
}();

const pw_stream_events kStreamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = NoteState;
    events.process = Process;
    return events;
}();

using Clock = std::chrono::steady_clock;

// Under the loop's lock: waits until `done` or `deadline`.
template <typename Done>
bool WaitFor(Clock::time_point deadline, Done done) {
    while (!done() && !opening.failed && Clock::now() < deadline) {
        pw_thread_loop_timed_wait(loop, 1);
    }
    return done();
}

// Under the loop's lock: a sink is there to play to. A server that serves
// only video, beside a PulseAudio, has none.
bool SinkPresent(Clock::time_point deadline) {
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    if (registry == nullptr) {
        return false;
    }
    pw_registry_add_listener(registry, &registryListener, &kRegistryEvents, nullptr);
    opening.syncSeq = pw_core_sync(core, PW_ID_CORE, 0);
    return WaitFor(deadline, [] { return opening.synced; }) && opening.sinkFound;
}

// Under the loop's lock: the stream is linked to a sink and running.
bool StreamRunning(Clock::time_point deadline) {
    const std::string latency =
        std::to_string(kPipeWireBufferFrames) + "/" + std::to_string(kOutputRate);
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_MEDIA_ROLE, "Game", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    stream = pw_stream_new(core, "Glowbrand", props);
    if (stream == nullptr) {
        return false;
    }
    pw_stream_add_listener(stream, &streamListener, &kStreamEvents, nullptr);
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = kOutputRate;
    format.channels = kOutputChannels;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    uint8_t space[512];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, space, sizeof(space));
    const spa_pod* params[1] = {
        spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (params[0] == nullptr ||
        pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        return false;
    }
    return WaitFor(deadline, [] {
        const pw_stream_state state = pw_stream_get_state(stream, nullptr);
        opening.failed = opening.failed || state == PW_STREAM_STATE_ERROR;
        return state == PW_STREAM_STATE_STREAMING;
    });
}

// Lets go of everything made. The stream leaves the graph first, between
// two of its cycles, and then the loop is stopped, so that no event comes in
// between the rest.
void Release() {
    if (stream != nullptr) {
        pw_thread_loop_lock(loop);
        pw_stream_disconnect(stream);
        pw_thread_loop_unlock(loop);
    }
    pw_thread_loop_stop(loop);
    if (stream != nullptr) {
        pw_stream_destroy(stream);
        stream = nullptr;
    }
    if (registry != nullptr) {
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (core != nullptr) {
        pw_core_disconnect(core);
        core = nullptr;
    }
    if (context != nullptr) {
        pw_context_destroy(context);
        context = nullptr;
    }
    pw_thread_loop_destroy(loop);
    loop = nullptr;
}

// The realtime client's configuration: its data thread, which mixes, asks
// the system for realtime priority, as a desktop's players do. PipeWire 1.4
// (Debian 13) folded client-rt.conf into client.conf, and names the old one
// on the console when asked for it.
const char* RealtimeClientConfig() {
    int major = 0;
    int minor = 0;
    std::sscanf(pw_get_library_version(), "%d.%d", &major, &minor);
    return major > 1 || (major == 1 && minor >= 4) ? "client.conf" : "client-rt.conf";
}

// Where libpipewire connects: PIPEWIRE_REMOTE names the socket (a path of its
// own when absolute), in PIPEWIRE_RUNTIME_DIR or else XDG_RUNTIME_DIR. Only a
// stat: machines without PipeWire are never connected to.
bool SocketPresent() {
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote != nullptr && remote[0] != '\0' ? remote : "pipewire-0";
    if (path[0] != '/') {
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (dir == nullptr || dir[0] == '\0') {
            dir = std::getenv("XDG_RUNTIME_DIR");
        }
        if (dir == nullptr || dir[0] == '\0') {
            return false;
        }
        path = std::string(dir) + "/" + path;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

bool OpenPipeWireOutput(const MixerPull& pull) {
    if (open) {
        return true;
    }
    if (!SocketPresent()) {
        return false;
    }
    pulling = pull;
    pw_init(nullptr, nullptr);
    loop = pw_thread_loop_new("glowbrand-sound", nullptr);
    if (loop == nullptr) {
        return false;
    }
    opening = Opening{};
    broken = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kServerOpenTimeoutMs);
    bool ready = false;
    pw_thread_loop_lock(loop);
    context =
        pw_context_new(pw_thread_loop_get_loop(loop),
                       pw_properties_new(PW_KEY_CONFIG_NAME, RealtimeClientConfig(), nullptr), 0);
    if (context != nullptr) {
        core = pw_context_connect(context, nullptr, 0);
    }
    if (core != nullptr) {
        pw_core_add_listener(core, &coreListener, &kCoreEvents, nullptr);
        ready = pw_thread_loop_start(loop) == 0 && SinkPresent(deadline) && StreamRunning(deadline);
    }
    pw_thread_loop_unlock(loop);
    if (!ready) {
        Release();
        return false;
    }
    open = true;
    return true;
}

void ClosePipeWireOutput() {
    if (!open) {
        return;
    }
    Release();
    open = false;
}

bool PipeWireOutputLost() {
    return open && broken;
}

bool DescribePipeWireOutput(const MixerPull& pull, SoundDeviceFacts& facts) {
    if (!OpenPipeWireOutput(pull)) {
        return false;
    }
    facts.driver = "pipewire (the program's own stream)";
    facts.rate = kOutputRate;
    facts.periodFrames = kPipeWireBufferFrames;
    facts.silent = false;
    ClosePipeWireOutput();
    return true;
}

void LockPipeWireOutput() {
    mixing.lock();
}

void UnlockPipeWireOutput() {
    mixing.unlock();
}
