#include "platform/windows/wav_sizes.h"

#include <algorithm>
#include <cstring>

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

WavFit FitWavSizes(const uint8_t* image, size_t length, std::vector<uint8_t>& clamped) {
    constexpr size_t kHeader = 12;  // "RIFF", its size, "WAVE"
    if (image == nullptr || length < kHeader || length > UINT32_MAX ||
        std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0) {
        return WavFit::Unplayable;
    }
    const auto riffSize = static_cast<uint32_t>(std::min<size_t>(ReadLe32(image + 4), length - 8));
    bool haveFormat = false;
    size_t position = kHeader;
    while (length - position >= 8) {
        const uint8_t* header = image + position;
        const uint32_t claimed = ReadLe32(header + 4);
        const size_t available = length - position - 8;
        if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) {
                return WavFit::Unplayable;
            }
            const auto dataSize = static_cast<uint32_t>(std::min<size_t>(claimed, available));
            if (dataSize == claimed && riffSize == ReadLe32(image + 4)) {
                return WavFit::AsIs;
            }
            clamped.assign(image, image + length);
            WriteLe32(clamped.data() + 4, riffSize);
            WriteLe32(clamped.data() + position + 4, dataSize);
            return WavFit::Clamped;
        }
        if (claimed > available) {
            return WavFit::Unplayable;
        }
        haveFormat = haveFormat || std::memcmp(header, "fmt ", 4) == 0;
        position += 8 + size_t{claimed} + (claimed & 1);
        if (position > length) {
            return WavFit::Unplayable;
        }
    }
    return WavFit::Unplayable;
}
