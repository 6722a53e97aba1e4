#include "fake_sound_mixer.h"

#include <algorithm>
#include <atomic>

#include "sound/output/sound_device.h"

namespace {

size_t patternAt = kFakePatternFrames;  // under the device lock
size_t patternMixed = 0;                // frames mixed since it started, likewise
std::atomic<size_t> mixedFrames{0};
std::atomic<int32_t> mixRate{0};

}  // namespace

StereoFrame FakePatternFrame(size_t index) {
    const uint32_t hash = static_cast<uint32_t>(index) * 2654435761u;
    return {static_cast<int16_t>(index + 1), static_cast<int16_t>(hash >> 16)};
}

void StartFakePattern() {
    const SoundDeviceLock device;
    patternAt = 0;
    patternMixed = 0;
}

size_t FakeMixedFrames() {
    return mixedFrames.load();
}

int32_t FakeMixRate() {
    return mixRate.load();
}

namespace {

bool MixPattern(int16_t* out, size_t frames, int32_t deviceRate) {
    const bool sounded = patternAt < kFakePatternFrames;
    for (size_t i = 0; i < frames; ++i) {
        StereoFrame frame{0, 0};
        if (patternAt < kFakePatternFrames) {
            frame = FakePatternFrame(patternAt++);
        }
        out[i * 2] = frame.left;
        out[i * 2 + 1] = frame.right;
    }
    patternMixed += frames;
    mixedFrames += frames;
    mixRate = deviceRate;
    return sounded;
}

void TakeBackPattern(size_t frames, int32_t) {
    patternMixed -= std::min(frames, patternMixed);
    patternAt = std::min(patternAt, patternMixed);
}

}  // namespace

MixerPull FakeMixerPull() {
    return {MixPattern, TakeBackPattern};
}
