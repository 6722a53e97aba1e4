#include "wav_sizes.h"

#include <algorithm>

#include "sound/wav/wav_parse.h"

namespace {

uint32_t ReadLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void WriteLe32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

// The chunks are walked by the decoders' own parser, which has checked every
// size up to the data chunk against the image and cut that one to it.
WavFit FitWavSizes(const uint8_t* image, size_t length, std::vector<uint8_t>& clamped) {
    WavLayout layout;
    if (length > UINT32_MAX || !ParseWavImage(image, length, layout)) {
        return WavFit::Unplayable;
    }
    const size_t dataSizeAt = static_cast<size_t>(layout.data - image) - 4;
    const uint32_t riffSize = ReadLe32(image + 4);
    const auto fittedRiffSize = static_cast<uint32_t>(std::min<size_t>(riffSize, length - 8));
    if (ReadLe32(image + dataSizeAt) == layout.dataBytes && riffSize == fittedRiffSize) {
        return WavFit::AsIs;
    }
    clamped.assign(image, image + length);
    WriteLe32(clamped.data() + 4, fittedRiffSize);
    WriteLe32(clamped.data() + dataSizeAt, static_cast<uint32_t>(layout.dataBytes));
    return WavFit::Clamped;
}
