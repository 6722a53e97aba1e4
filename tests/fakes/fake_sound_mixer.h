// The mixer as a pattern source for a device under test: after
// StartFakePattern, the device's next frames are FakePatternFrame(0),
// FakePatternFrame(1)... up to kFakePatternFrames, then silence; a capture
// of what the device played holds the pattern unaltered or the device
// altered it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sound/output/output.h"

constexpr size_t kFakePatternFrames = 24'000;

struct StereoFrame {
    int16_t left;
    int16_t right;
    bool operator==(const StereoFrame&) const = default;
};

// Left counts up from 1; right is a hash of the index over the whole range,
// both extremes included now and then.
StereoFrame FakePatternFrame(size_t index);

void StartFakePattern();  // takes the device lock, as the real mixer's changes do

// The pull an output under test is opened with.
MixerPull FakeMixerPull();

// What the device asked the mixer for so far.
size_t FakeMixedFrames();
int32_t FakeMixRate();  // of the last call; 0 before any
