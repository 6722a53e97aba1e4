// PlaySound is not told how long an image in memory is: it trusts the RIFF
// and data chunk sizes inside it, so an image whose sizes claim more than was
// loaded would have it read past the end of its slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class WavFit {
    Unplayable,  // not RIFF/WAVE, no format before the data, or a chunk that overruns
    AsIs,        // every size PlaySound reads stays within the image
    Clamped,     // a copy with the RIFF and data sizes cut to the bytes there is in `clamped`
};

// Walks the chunks of the image of `length` bytes as PlaySound will. An image
// the decoders refuse for its format (no channels, say) is not played either.
WavFit FitWavSizes(const uint8_t* image, size_t length, std::vector<uint8_t>& clamped);
