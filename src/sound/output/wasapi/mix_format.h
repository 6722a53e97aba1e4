// The device's own sample format, as WASAPI's shared mode hands it over, and
// the mixer's stereo 16-bit frames converted into it.
#pragma once

#include <windows.h>
// clang-format off: mmreg needs windows.h first
#include <mmreg.h>
// clang-format on

#include <cstddef>
#include <cstdint>

enum class SampleKind {
    Float32,
    Int16,
    Int24,  // three bytes a sample, packed
    Int32,  // also 24 valid bits in a 32-bit container: the low bits stay 0
};

struct MixLayout {
    SampleKind kind = SampleKind::Float32;
    int32_t channels = 2;
    int32_t rate = 48'000;
    int32_t bytesPerFrame = 8;
};

// Reads the layout of a mix format; false for one the conversion cannot
// write (8-bit, 64-bit float, compressed, a block size that does not add up).
bool ReadMixLayout(const WAVEFORMATEX& format, MixLayout& layout);

// Writes `frames` stereo frames of `stereo` to `out` in `layout`: left and
// right into the first two channels, the left alone where there is one,
// silence in any others.
void ConvertMixFrames(const int16_t* stereo, size_t frames, const MixLayout& layout, uint8_t* out);
