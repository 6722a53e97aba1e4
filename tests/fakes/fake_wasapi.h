// A WASAPI engine inside the test's process, for the WASAPI output: its class
// object stands in for MMDeviceEnumerator's, so the output's render thread
// finds one default output whose client queues what the output hands over
// and plays it, a period at a time, on a clock of its own. Every frame it
// plays is kept, turned back into the mixer's stereo 16 bits.
#pragma once

#include <windows.h>
// clang-format off: these need windows.h first
#include <ks.h>
#include <ksmedia.h>
#include <mmreg.h>
// clang-format on

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_sound_mixer.h"

struct FakeEngineShape {
    WAVEFORMATEXTENSIBLE mixFormat{};  // a plain WAVEFORMATEX where cbSize is 0
    UINT32 bufferFrames = 0;
    UINT32 minPeriodFrames = 0;  // IAudioClient3's shortest period; 0: no IAudioClient3
};

// A frame played; nullopt where the bytes are none the mixer's frames convert
// into (a fraction of a 16-bit step, a sound past the second channel).
using PlayedFrame = std::optional<StereoFrame>;

class FakeWasapiEngine {
public:
    // Registers the engine for this process's multithreaded apartment, which
    // the calling thread joins until the engine goes.
    explicit FakeWasapiEngine(const FakeEngineShape& shape);
    ~FakeWasapiEngine();
    FakeWasapiEngine(const FakeWasapiEngine&) = delete;
    FakeWasapiEngine& operator=(const FakeWasapiEngine&) = delete;

    bool Registered() const;
    size_t PlayedCount() const;
    std::vector<PlayedFrame> Played(size_t from) const;  // in the order played
    size_t QueuedSound() const;  // frames queued and not yet played that are not silence
    int Resets() const;
    // The next period comes after a pause long enough to be late, and with
    // all that was queued played out.
    void WakeLateAndDry();
    // Calls WASAPI would have refused, as they came.
    std::vector<std::string> Misuses() const;
    // References the output still holds to the engine's objects.
    long References() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};
