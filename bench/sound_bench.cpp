// How fast a sound starts: PlaySlot's own call time, and the time from the
// call to the sound's first frame being handed to the audio device, for our
// way (decoded ahead, the device period of config.h) and for two naive ones:
// decoding on every play, and queueing with SDL's default buffer.
//
// Runs on SDL's dummy driver unless SDL_AUDIODRIVER says otherwise: it paces
// the callback as a sound card would, without needing one.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "sound/output/sdl/sdl_output.h"
#include "sound/sound.h"
#include "sound/sound_bank.h"
#include "wav_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The images: 16-bit stereo PCM at 44.1 kHz, so that every way has to
// convert them for the 48 kHz device. Each starts with a 64-frame mark, of a
// sign of its own, then stays silent: the first marked frame to reach the
// device is the new sound's first.
constexpr size_t kOneSecond = 44 + 44100 * 4;
constexpr size_t kSlotFull = kSoundLoadLimit;
constexpr int16_t kMark = 8000;

void MakeImage(uint8_t* image, size_t length, int16_t mark) {
    const uint32_t data = static_cast<uint32_t>((length - 44) / 4 * 4);
    const WavBytes header = WavHeader(FrameFormat(1, 2, 44'100, 16), data, data);
    std::memset(image, 0, length);
    std::memcpy(image, header.data(), header.size());
    for (int i = 0; i < 64 * 2; ++i) {
        std::memcpy(image + 44 + 2 * i, &mark, 2);
    }
}

// What the device was last handed, seen from inside the audio thread.
std::atomic<int64_t> markedAtNs{0};  // when a buffer with a mark went out
std::atomic<int> markSign{0};

int64_t Ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

void NoteMarks(const Uint8* stream, int bytes) {
    const auto* samples = reinterpret_cast<const int16_t*>(stream);
    for (int i = 0; i < bytes / 2; ++i) {
        if (std::abs(samples[i]) > kMark / 2) {
            markSign = samples[i] > 0 ? 1 : -1;
            markedAtNs = Ns(Clock::now());
            return;
        }
    }
}

SDL_AudioCallback wrappedCallback = nullptr;

void WatchingCallback(void* user, Uint8* stream, int bytes) {
    wrappedCallback(user, stream, bytes);
    NoteMarks(stream, bytes);
}

}  // namespace

// Every device opened in this program, the sound service's included, is
// opened through here: its callback is wrapped so that the benchmark sees
// each buffer the moment it is handed over. Nothing else changes.
extern "C" DECLSPEC SDL_AudioDeviceID SDLCALL SDL_OpenAudioDevice(const char* device, int capture,
                                                                  const SDL_AudioSpec* desired,
                                                                  SDL_AudioSpec* obtained,
                                                                  int changes) {
    using Open = SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
    static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
    SDL_AudioSpec spec = *desired;
    if (spec.callback != nullptr) {
        wrappedCallback = spec.callback;
        spec.callback = WatchingCallback;
    }
    return real(device, capture, &spec, obtained, changes);
}

namespace {

// Spins until a buffer with the given mark has gone out after `since`.
double MsUntilMarked(Clock::time_point since, int sign) {
    const int64_t from = Ns(since);
    for (;;) {
        const int64_t at = markedAtNs.load();
        if (at > from && markSign.load() == sign) {
            return static_cast<double>(at - from) / 1e6;
        }
    }
}

// Plays come at any moment of a buffer's period, not just after one went
// out: each play waits a pseudo-random part of the period first (untimed).
void SleepIntoPeriod(int periodFrames) {
    static uint32_t seed = 12345;
    seed = seed * 1664525 + 1013904223;
    const double ms = (seed >> 8) / 16777216.0 * periodFrames * 1000.0 / kOutputRate;
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

struct Figures {
    double sumMs = 0;
    double maxMs = 0;
    int count = 0;
    void Add(double ms) {
        sumMs += ms;
        maxMs = std::max(maxMs, ms);
        ++count;
    }
    void Report(benchmark::State& state) const {
        state.counters["to_device_ms"] = sumMs / std::max(count, 1);
        state.counters["to_device_max_ms"] = maxMs;
    }
};

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Fills the two slots a case alternates between: marks of opposite sign.
void FillSlots(SoundId first, SoundId second, size_t length) {
    MakeImage(soundSlots[static_cast<int>(first)], length, kMark);
    MakeImage(soundSlots[static_cast<int>(second)], length, -kMark);
    soundLengths[static_cast<int>(first)] = length;
    soundLengths[static_cast<int>(second)] = length;
}

// Our way. `fresh`: each play is the first after its slot was prepared.
void OurWay(benchmark::State& state, size_t length, bool fresh) {
    const SoundId ids[2] = {length == kOneSecond ? SoundId::On : SoundId::Swing,
                            length == kOneSecond ? SoundId::Off : SoundId::Strike};
    FillSlots(ids[0], ids[1], length);
    for (const SoundId id : ids) {
        PrepareWavImage(soundSlots[static_cast<int>(id)], length);
    }
    PlaySlot(ids[1]);  // the device is running before the first timed play
    MsUntilMarked(Clock::now() - std::chrono::seconds(1), -1);
    Figures figures;
    int n = 0;
    for (auto _ : state) {
        const SoundId id = ids[n % 2];
        const int sign = n++ % 2 == 0 ? 1 : -1;
        if (fresh) {
            PrepareWavImage(soundSlots[static_cast<int>(id)], length);
        }
        SleepIntoPeriod(kOutputBufferFrames);
        const Clock::time_point start = Clock::now();
        PlaySlot(id);
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(Seconds(start, end));
        figures.Add(MsUntilMarked(start, sign));
    }
    figures.Report(state);
    CloseSound();
}

// What our way pays instead, once per slot at start-up.
void Prepare(benchmark::State& state, size_t length) {
    FillSlots(SoundId::On, SoundId::Off, length);
    for (auto _ : state) {
        PrepareWavImage(soundSlots[0], length);
    }
    CloseSound();
}

// The naive ways, on a device of their own.
std::atomic<const int16_t*> naiveFrames{nullptr};
std::atomic<size_t> naiveCount{0};
std::atomic<uint64_t> naivePlays{0};

void NaiveCallback(void*, Uint8* stream, int bytes) {
    static uint64_t seen = 0;
    static size_t position = 0;
    if (naivePlays.load() != seen) {
        seen = naivePlays.load();
        position = 0;
    }
    std::memset(stream, 0, static_cast<size_t>(bytes));
    const int16_t* frames = naiveFrames.load();
    const size_t count = std::min(naiveCount.load() - std::min(position, naiveCount.load()),
                                  static_cast<size_t>(bytes) / 4);
    if (frames != nullptr) {
        std::memcpy(stream, frames + position * 2, count * 4);
    }
    position += count;
}

SDL_AudioDeviceID OpenNaive(Uint16 frames, SDL_AudioCallback callback, int& periodFrames) {
    SDL_AudioInit(nullptr);
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = frames;  // 0: SDL's default
    wanted.callback = callback;
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    SDL_PauseAudioDevice(device, 0);
    periodFrames = obtained.samples;
    return device;
}

// Decodes and converts an image for the device, as our service does once.
std::vector<int16_t> Decode(const uint8_t* image, size_t length) {
    SDL_AudioSpec spec{};
    Uint8* decoded = nullptr;
    Uint32 bytes = 0;
    SDL_LoadWAV_RW(SDL_RWFromConstMem(image, static_cast<int>(length)), 1, &spec, &decoded, &bytes);
    SDL_AudioCVT cvt{};
    SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 2, kOutputRate);
    std::vector<Uint8> work(static_cast<size_t>(bytes) * cvt.len_mult);
    std::memcpy(work.data(), decoded, bytes);
    SDL_FreeWAV(decoded);
    cvt.buf = work.data();
    cvt.len = static_cast<int>(bytes);
    SDL_ConvertAudio(&cvt);
    std::vector<int16_t> frames(static_cast<size_t>(cvt.len_cvt) / 2);
    std::memcpy(frames.data(), work.data(), frames.size() * 2);
    return frames;
}

// Naive: every play decodes the image, then swaps it in like ours does.
void DecodeEveryPlay(benchmark::State& state, size_t length) {
    std::vector<uint8_t> images[2] = {std::vector<uint8_t>(length), std::vector<uint8_t>(length)};
    MakeImage(images[0].data(), length, kMark);
    MakeImage(images[1].data(), length, -kMark);
    int period = 0;
    const SDL_AudioDeviceID device = OpenNaive(kOutputBufferFrames, NaiveCallback, period);
    std::vector<int16_t> playing[2];
    Figures figures;
    int n = 0;
    for (auto _ : state) {
        const int which = n++ % 2;
        SleepIntoPeriod(period);
        const Clock::time_point start = Clock::now();
        playing[which] = Decode(images[which].data(), length);
        naiveFrames = playing[which].data();
        naiveCount = playing[which].size() / 2;
        ++naivePlays;
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(Seconds(start, end));
        figures.Add(MsUntilMarked(start, which == 0 ? 1 : -1));
    }
    figures.Report(state);
    SDL_CloseAudioDevice(device);
    SDL_AudioQuit();
}

// Naive: decoded ahead, but queued on a device with SDL's default buffer.
void QueueDefaultBuffer(benchmark::State& state, size_t length) {
    std::vector<uint8_t> image(length);
    std::vector<int16_t> frames[2];
    for (int i = 0; i < 2; ++i) {
        MakeImage(image.data(), length, i == 0 ? kMark : -kMark);
        frames[i] = Decode(image.data(), length);
    }
    int period = 0;
    const SDL_AudioDeviceID device = OpenNaive(0, nullptr, period);
    state.counters["buffer_frames"] = period;
    Figures figures;
    int n = 0;
    for (auto _ : state) {
        const int which = n++ % 2;
        const Uint32 bytes = static_cast<Uint32>(frames[which].size() * 2);
        SleepIntoPeriod(period);
        const Clock::time_point start = Clock::now();
        SDL_ClearQueuedAudio(device);
        SDL_QueueAudio(device, frames[which].data(), bytes);
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(Seconds(start, end));
        // SDL's own callback drains the queue: the first buffer has gone to
        // the device when the queue first shrinks.
        while (SDL_GetQueuedAudioSize(device) >= bytes) {
        }
        figures.Add(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    figures.Report(state);
    SDL_CloseAudioDevice(device);
    SDL_AudioQuit();
}

}  // namespace

BENCHMARK_CAPTURE(OurWay, 1s_first_play, kOneSecond, true)->UseManualTime()->Iterations(200);
BENCHMARK_CAPTURE(OurWay, 1s_later_play, kOneSecond, false)->UseManualTime()->Iterations(200);
BENCHMARK_CAPTURE(OurWay, 20MiB_first_play, kSlotFull, true)->UseManualTime()->Iterations(30);
BENCHMARK_CAPTURE(OurWay, 20MiB_later_play, kSlotFull, false)->UseManualTime()->Iterations(200);
BENCHMARK_CAPTURE(Prepare, 1s, kOneSecond)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Prepare, 20MiB, kSlotFull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEveryPlay, 1s, kOneSecond)->UseManualTime()->Iterations(200);
BENCHMARK_CAPTURE(DecodeEveryPlay, 20MiB, kSlotFull)->UseManualTime()->Iterations(30);
BENCHMARK_CAPTURE(QueueDefaultBuffer, 1s, kOneSecond)->UseManualTime()->Iterations(100);
BENCHMARK_CAPTURE(QueueDefaultBuffer, 20MiB, kSlotFull)->UseManualTime()->Iterations(30);

int main(int argc, char** argv) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
