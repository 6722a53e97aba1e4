// How short a device period this machine sustains: opens SDL's audio device
// (SDL_AUDIODRIVER chooses the backend) with each period asked for, lets it
// run, notes when each callback comes, and counts the callbacks that came
// later than the device's buffering allows.
//
//   glowbrand-period-probe [seconds per period] [period frames...]
//
// bench/period.sh runs it with both processors busy, through the disk driver
// and through a private PulseAudio server, whose own underrun count it adds.
// With PROBE_DEBUG set it also tells how long the stream took to start and
// its longest pause.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "config.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<Clock::time_point> calls;
size_t callCount = 0;

void NoteCall(void*, Uint8* stream, int bytes) {
    if (callCount < calls.size()) {
        calls[callCount++] = Clock::now();
    }
    SDL_memset(stream, 0, static_cast<size_t>(bytes));
}

struct Figures {
    int obtainedFrames = 0;
    size_t callbacks = 0;
    size_t late = 0;
    double worstMs = 0;
};

// A callback is late when it comes more than one period after the best
// schedule seen so far allows: by then the buffer it should have refilled
// has run dry.
Figures Run(int periodFrames, double seconds) {
    Figures figures;
    calls.assign(static_cast<size_t>(seconds * kOutputRate / periodFrames) + 1000, {});
    callCount = 0;
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = static_cast<Uint16>(periodFrames);
    wanted.callback = NoteCall;
    SDL_AudioSpec obtained{};
    const Clock::time_point opened = Clock::now();
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        std::fprintf(stderr, "no device: %s\n", SDL_GetError());
        return figures;
    }
    figures.obtainedFrames = obtained.samples;
    SDL_PauseAudioDevice(device, 0);
    SDL_Delay(static_cast<Uint32>(seconds * 1000));
    SDL_CloseAudioDevice(device);

    const double periodMs = periodFrames * 1000.0 / kOutputRate;
    // The first second settles the device and the server: not counted.
    const size_t from = std::min(callCount, static_cast<size_t>(1000.0 / periodMs));
    double best = 1e300;
    for (size_t k = from; k < callCount; ++k) {
        const double ms = std::chrono::duration<double, std::milli>(calls[k] - calls[from]).count();
        const double offset = ms - static_cast<double>(k - from) * periodMs;
        best = std::min(best, offset);
        const double lateness = offset - best;
        figures.worstMs = std::max(figures.worstMs, lateness);
        if (lateness > periodMs) {
            ++figures.late;
            best = offset;  // the device starts over from here
        }
    }
    figures.callbacks = callCount - from;
    if (std::getenv("PROBE_DEBUG") != nullptr && callCount > 1) {
        double gap = 0;
        size_t gapAt = 0;
        for (size_t k = 1; k < callCount; ++k) {
            const double g =
                std::chrono::duration<double, std::milli>(calls[k] - calls[k - 1]).count();
            if (g > gap) {
                gap = g;
                gapAt = k;
            }
        }
        std::fprintf(stderr, "longest gap %.1f ms before call %zu; first call %.1f ms after open; ",
                     gap, gapAt,
                     std::chrono::duration<double, std::milli>(calls[0] - opened).count());
        std::fprintf(
            stderr, "raw %zu calls, first->last %.1f ms\n", callCount,
            std::chrono::duration<double, std::milli>(calls[callCount - 1] - calls[0]).count());
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::vector<int> periods;
    for (int i = 2; i < argc; ++i) {
        periods.push_back(std::atoi(argv[i]));
    }
    if (periods.empty()) {
        periods = {128, 192, 256, 480};
    }
    if (SDL_AudioInit(nullptr) != 0) {
        std::fprintf(stderr, "no audio: %s\n", SDL_GetError());
        return 1;
    }
    std::printf("driver %s, %.0f s per period\n", SDL_GetCurrentAudioDriver(), seconds);
    for (const int frames : periods) {
        const Figures f = Run(frames, seconds);
        std::printf(
            "period %4d frames (%4.1f ms): obtained %4d, callbacks %6zu, late %4zu, "
            "worst lateness %6.2f ms\n",
            frames, frames * 1000.0 / kOutputRate, f.obtainedFrames, f.callbacks, f.late,
            f.worstMs);
        std::fflush(stdout);
    }
    SDL_AudioQuit();
    return 0;
}
