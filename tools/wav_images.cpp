#include "wav_images.h"

#include <cmath>
#include <cstring>
#include <numbers>

WavBytes PcmTone(uint16_t tag, uint16_t bits, uint16_t channels, uint32_t rate, double seconds,
                 double hz) {
    WavBytes data;
    const auto frames = static_cast<size_t>(seconds * rate);
    for (size_t i = 0; i < frames; ++i) {
        const double v = 0.6 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
        for (uint16_t c = 0; c < channels; ++c) {
            if (tag == 3) {
                float f = static_cast<float>(v);
                uint32_t u = 0;
                std::memcpy(&u, &f, 4);
                PutLe(data, u, 4);
            } else if (bits == 8) {
                data.push_back(static_cast<uint8_t>(128 + std::lround(v * 127)));
            } else {
                const auto s = static_cast<int32_t>(std::lround(v * 2147483647.0));
                for (int byte = 4 - bits / 8; byte < 4; ++byte) {
                    data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(s) >> (8 * byte)));
                }
            }
        }
    }
    const auto align = static_cast<uint16_t>(channels * bits / 8);
    return WavImage({tag, channels, rate, bits, align, {}}, data);
}

WavBytes LawSquare(uint16_t tag, uint8_t high, uint8_t low, uint16_t channels, double seconds) {
    WavBytes data;
    for (size_t i = 0; i < static_cast<size_t>(seconds * 8000); ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            data.push_back(i % 8 < 4 ? high : low);
        }
    }
    return WavImage({tag, channels, 8000, 8, channels, {}}, data);
}

WavBytes ImaBlocks(size_t blocks, uint16_t channels) {
    WavBytes data;
    for (size_t b = 0; b < blocks; ++b) {
        for (uint16_t c = 0; c < channels; ++c) {
            PutLe(data, 0, 2);  // first sample
            data.push_back(0);  // step index
            data.push_back(0);
        }
        // Four bytes (eight samples) of each channel in turn.
        for (int i = 0; i < 252; ++i) {
            data.push_back((i / 2) % 2 == 0 ? 0x77 : 0xFF);
            if (i % 4 == 3) {
                data.insert(data.end(), 4 * (channels - 1), 0x00);
            }
        }
    }
    return data;
}

WavFormat ImaFormat(uint16_t channels) {
    WavBytes extra;
    PutLe(extra, 2, 2);
    PutLe(extra, 505, 2);
    return {0x11, channels, 8000, 4, static_cast<uint16_t>(256 * channels), extra};
}

WavBytes MsAdpcm(size_t blocks) {
    WavBytes extra;
    PutLe(extra, 32, 2);
    PutLe(extra, 500, 2);  // samples per block: (256 - 7) * 2 + 2
    PutLe(extra, 7, 2);
    const int16_t coefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                        {240, 0}, {460, -208}, {392, -232}};
    for (const auto& pair : coefficients) {
        PutLe(extra, static_cast<uint16_t>(pair[0]), 2);
        PutLe(extra, static_cast<uint16_t>(pair[1]), 2);
    }
    WavBytes data;
    for (size_t b = 0; b < blocks; ++b) {
        data.push_back(0);   // predictor
        PutLe(data, 16, 2);  // delta
        PutLe(data, 0, 2);
        PutLe(data, 0, 2);
        for (int i = 0; i < 249; ++i) {
            // Each byte is two samples; two bytes up, two down.
            data.push_back(((i + 1) / 2) % 2 == 0 ? 0x77 : 0x88);
        }
    }
    return WavImage({2, 1, 8000, 4, 256, extra}, data);
}
