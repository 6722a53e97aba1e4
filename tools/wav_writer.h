// RIFF/WAVE images, written one way for everything that makes them: the
// sound tool, the tests, the fuzz seeds and the benchmark. Every field is
// the caller's to choose, so that broken and exotic images come out as
// easily as good ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using WavBytes = std::vector<uint8_t>;

// The fmt chunk's fields. The byte rate written is rate * blockAlign.
struct WavFormat {
    uint16_t encoding = 1;  // 1 PCM, 2 MS ADPCM, 3 float, 0x11 IMA ADPCM, ...
    uint16_t channels = 1;
    uint32_t rate = 44'100;
    uint16_t bits = 16;
    uint16_t blockAlign = 2;  // bytes of a frame (of a block, for ADPCM)
    WavBytes extra;           // after the 16 common bytes, its size field included
};

// Interleaved samples whose frame is channels * bits / 8 bytes.
WavFormat FrameFormat(uint16_t encoding, uint16_t channels, uint32_t rate, uint16_t bits);

// The header up to the data bytes: RIFF, a fmt chunk and the data chunk's
// header. The RIFF size counts dataBytes; the data chunk claims claimedBytes.
WavBytes WavHeader(const WavFormat& format, uint32_t dataBytes, uint32_t claimedBytes);

// A whole image holding data; its data chunk claims claimedBytes, or, without
// it, the data's own size.
WavBytes WavImage(const WavFormat& format, const WavBytes& data, uint32_t claimedBytes);
WavBytes WavImage(const WavFormat& format, const WavBytes& data);

// 16-bit samples as data bytes, little-endian.
WavBytes Pcm16Data(const std::vector<int16_t>& samples);

// Appends value's low `bytes` bytes, little-endian.
void PutLe(WavBytes& out, uint32_t value, int bytes);

// Appends a four-letter chunk tag.
void PutTag(WavBytes& out, const char* tag);

// Writes bytes as the whole file at path. Returns false when it cannot.
bool WriteBytesToFile(const std::string& path, const WavBytes& bytes);
