#include "sound/wav/wav_parse.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kRiffHeaderBytes = 12;  // "RIFF", its size, "WAVE"
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kFormatBytes = 16;            // the common part of every fmt chunk
constexpr size_t kFormatWithSizeBytes = 18;    // ... and the size of what follows
constexpr size_t kExtensibleFormatBytes = 40;  // an extensible one, subformat included
// The limits the Linux decoder (SDL) sets, so that both take the same files.
constexpr uint32_t kMaxChannels = 255;
constexpr uint32_t kMaxRate = INT32_MAX;
// Decoded data grows at most this many times (4-bit ADPCM to 16-bit).
constexpr size_t kMaxGrowth = 4;

// MS ADPCM's seven predictor coefficient pairs, as every encoder writes them.
// SDL refuses a file whose first seven differ and takes more than seven;
// the Audio Compression Manager's codecs differ again: only this table plays.
constexpr int16_t kMsAdpcmCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                {240, 0}, {460, -208}, {392, -232}};
constexpr size_t kMsAdpcmExtraBytes = 4 + sizeof kMsAdpcmCoefficients;  // samples a block, count

// The GUID of an extensible header's subformat, after its first four bytes
// (the format tag the subformat stands for).
constexpr uint8_t kSubformatBase[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t ReadLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t ReadLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

bool ParseFormat(const uint8_t* chunk, size_t size, WavLayout& layout) {
    if (size < kFormatBytes) {
        return false;
    }
    layout.encoding = ReadLe16(chunk);
    layout.channels = ReadLe16(chunk + 2);
    layout.rate = ReadLe32(chunk + 4);
    layout.byteRate = ReadLe32(chunk + 8);
    layout.blockAlign = ReadLe16(chunk + 12);
    layout.bits = ReadLe16(chunk + 14);
    if (size >= kFormatWithSizeBytes) {
        layout.extra = chunk + kFormatWithSizeBytes;
        layout.extraBytes = std::min<size_t>(ReadLe16(chunk + 16), size - kFormatWithSizeBytes);
    }
    if (layout.encoding == kWavExtensible) {
        // The system's codecs take no extensible header: it is read as the
        // plain one its subformat stands for. An ADPCM one has nowhere to
        // keep its block layout and coefficients that both codecs would
        // read alike, and no encoder writes one: it is refused.
        if (size < kExtensibleFormatBytes ||
            std::memcmp(chunk + 28, kSubformatBase, sizeof kSubformatBase) != 0 ||
            ReadLe32(chunk + 24) > UINT16_MAX) {
            return false;
        }
        layout.encoding = ReadLe16(chunk + 24);
        layout.extra = nullptr;
        layout.extraBytes = 0;
        if (layout.encoding == kWavMsAdpcm || layout.encoding == kWavImaAdpcm) {
            return false;
        }
    }
    return layout.channels != 0 && layout.channels <= kMaxChannels && layout.rate != 0 &&
           layout.rate <= kMaxRate;
}

// How SDL2 (2.26) mixes 3 to 8 channels down to two, measured from the
// library itself, so that a file sounds the same on Linux and Windows:
// gains into the left and right output of each input channel, in the
// layouts 2.1, quad, 4.1, 5.1, 6.1 and 7.1 (what WAV files of those counts
// hold when they carry no channel mask).
constexpr float kDownmix[6][8][2] = {
    {{0.800000012f, 0}, {0, 0.800000012f}, {0.200000003f, 0.200000003f}},
    {{0.421000004f, 0},
     {0, 0.421000004f},
     {0.358999997f, 0.219999999f},
     {0.219999999f, 0.358999997f}},
    {{0.374222219f, 0},
     {0, 0.374222219f},
     {0.111111112f, 0.111111112f},
     {0.319111109f, 0.195555553f},
     {0.195555553f, 0.319111109f}},
    {{0.294545442f, 0},
     {0, 0.294545442f},
     {0.208181813f, 0.208181813f},
     {0.0909090936f, 0.0909090936f},
     {0.25181818f, 0.154545456f},
     {0.154545456f, 0.25181818f}},
    {{0.247384623f, 0},
     {0, 0.247384623f},
     {0.174461529f, 0.174461529f},
     {0.0769230798f, 0.0769230798f},
     {0.174461529f, 0.174461529f},
     {0.226153851f, 0.100615382f},
     {0.100615382f, 0.226153851f}},
    {{0.211866662f, 0},
     {0, 0.211866662f},
     {0.150266662f, 0.150266662f},
     {0.0666666701f, 0.0666666701f},
     {0.181066677f, 0.111066669f},
     {0.111066669f, 0.181066677f},
     {0.194133341f, 0.0858666673f},
     {0.0858666673f, 0.194133341f}},
};

// One sample as a float of full scale 1, the way SDL2 widens each width.
float SampleValue(const uint8_t* at, uint16_t encoding, uint16_t bits) {
    if (encoding == kWavFloat) {
        float value = 0;
        const uint32_t raw = ReadLe32(at);
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }
    switch (bits) {
        case 8:
            return static_cast<float>(at[0]) * (1.0f / 128) - 1.0f;
        case 16:
            return static_cast<float>(static_cast<int16_t>(ReadLe16(at))) * (1.0f / 32768);
        case 24: {
            const auto wide = static_cast<int32_t>(uint32_t{at[0]} << 8 | uint32_t{at[1]} << 16 |
                                                   uint32_t{at[2]} << 24);
            return static_cast<float>(wide >> 8) * (1.0f / 8388607);
        }
        default:
            return static_cast<float>(static_cast<int32_t>(ReadLe32(at)) >> 8) * (1.0f / 8388607);
    }
}

bool HasStandardCoefficients(const WavLayout& layout) {
    if (layout.extraBytes < kMsAdpcmExtraBytes || ReadLe16(layout.extra + 2) != 7) {
        return false;
    }
    for (size_t i = 0; i < 7; ++i) {
        for (size_t j = 0; j < 2; ++j) {
            const auto value = static_cast<int16_t>(ReadLe16(layout.extra + 4 + i * 4 + j * 2));
            if (value != kMsAdpcmCoefficients[i][j]) {
                return false;
            }
        }
    }
    return true;
}

int16_t ToSample16(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 1.0f) {
        return 32767;
    }
    if (value <= -1.0f) {
        return -32768;
    }
    return static_cast<int16_t>(std::lround(value * 32767.0f));
}

}  // namespace

bool ParseWavImage(const uint8_t* image, size_t length, WavLayout& layout) {
    layout = WavLayout{};
    if (image == nullptr || length < kRiffHeaderBytes || std::memcmp(image, "RIFF", 4) != 0 ||
        std::memcmp(image + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    size_t position = kRiffHeaderBytes;
    while (length - position >= kChunkHeaderBytes) {
        const uint8_t* header = image + position;
        const uint32_t claimed = ReadLe32(header + 4);
        const size_t available = length - position - kChunkHeaderBytes;
        if (std::memcmp(header, "data", 4) == 0) {
            layout.data = header + kChunkHeaderBytes;
            layout.dataBytes = std::min<size_t>(claimed, available);
            return haveFormat;
        }
        if (claimed > available) {
            return false;
        }
        if (!haveFormat && std::memcmp(header, "fmt ", 4) == 0) {
            if (!ParseFormat(header + kChunkHeaderBytes, claimed, layout)) {
                return false;
            }
            haveFormat = true;
        }
        position += kChunkHeaderBytes + size_t{claimed} + (claimed & 1);
        if (position > length) {
            return false;
        }
    }
    return false;
}

bool ConvertPcmFrames(const WavLayout& layout, DecodedSound& made) {
    made = DecodedSound{};
    const bool pcm = layout.encoding == kWavPcm && (layout.bits == 8 || layout.bits == 16 ||
                                                    layout.bits == 24 || layout.bits == 32);
    const bool floats = layout.encoding == kWavFloat && layout.bits == 32;
    const size_t sampleBytes = layout.bits / 8;
    const size_t frameBytes = layout.channels * sampleBytes;
    // Samples are packed frames whatever the block size, as long as a block
    // holds whole frames or a frame whole blocks (writers that give the
    // size of a sample, not of a frame); any other block size leaves the
    // layout of the samples in doubt.
    if ((!pcm && !floats) || layout.channels == 0 || layout.blockAlign == 0 ||
        (layout.blockAlign % frameBytes != 0 && frameBytes % layout.blockAlign != 0)) {
        return false;
    }
    const size_t frames = layout.dataBytes / frameBytes;
    const int32_t kept = layout.channels == 1 ? 1 : 2;
    // 16-bit samples of one or two channels, or the first two of more than
    // eight (SDL2 mixes no more), are taken as they are.
    const bool mixed = layout.channels >= 3 && layout.channels <= 8;
    const bool copied = pcm && layout.bits == 16 && !mixed;
    auto* out = static_cast<int16_t*>(std::malloc(std::max<size_t>(frames * kept, 1) * 2));
    if (out == nullptr) {
        return false;
    }
    // 16-bit samples kept as they are, on a little-endian machine: the data
    // already is the frames (the common file, and much the quickest way).
    const bool asIs =
        copied && layout.channels == kept && std::endian::native == std::endian::little;
    // An empty data chunk may come with no data pointer at all.
    if (asIs && frames > 0) {
        std::memcpy(out, layout.data, frames * frameBytes);
    }
    for (size_t f = 0; f < frames && !asIs; ++f) {
        const uint8_t* frame = layout.data + f * frameBytes;
        for (int32_t c = 0; c < kept; ++c) {
            int16_t& sample = out[f * kept + c];
            if (copied) {
                sample = static_cast<int16_t>(ReadLe16(frame + c * sampleBytes));
            } else if (!mixed) {
                sample =
                    ToSample16(SampleValue(frame + c * sampleBytes, layout.encoding, layout.bits));
            } else {
                float sum = 0;
                for (uint16_t from = 0; from < layout.channels; ++from) {
                    const float gain = kDownmix[layout.channels - 3][from][c];
                    if (gain != 0) {
                        sum +=
                            SampleValue(frame + from * sampleBytes, layout.encoding, layout.bits) *
                            gain;
                    }
                }
                sample = ToSample16(sum);
            }
        }
    }
    made.frames = out;
    made.frameCount = frames;
    made.channels = kept;
    made.rate = static_cast<int32_t>(layout.rate);
    return true;
}

bool DecodeWavWith(const uint8_t* image, size_t length, DecodedSound& made, SystemCodec codec) {
    made = DecodedSound{};
    WavLayout layout;
    // The Linux decoder's cap too: SDL takes an image's length as an int.
    if (length > INT32_MAX || !ParseWavImage(image, length, layout)) {
        return false;
    }
    if (layout.encoding == kWavPcm || layout.encoding == kWavFloat) {
        return ConvertPcmFrames(layout, made);
    }
    const bool companded = layout.encoding == kWavALaw || layout.encoding == kWavMuLaw;
    const bool adpcm = layout.encoding == kWavMsAdpcm || layout.encoding == kWavImaAdpcm;
    if ((!companded && !adpcm) || (companded && layout.bits != 8) || codec == nullptr ||
        (layout.encoding == kWavMsAdpcm && !HasStandardCoefficients(layout))) {
        return false;
    }
    std::vector<uint8_t> pcm;
    const size_t limit = layout.dataBytes * kMaxGrowth;
    if (!codec(layout, limit, pcm) || pcm.size() > limit) {
        return false;
    }
    WavLayout decoded = layout;
    decoded.encoding = kWavPcm;
    decoded.bits = 16;
    decoded.blockAlign = static_cast<uint16_t>(layout.channels * 2);
    decoded.data = pcm.data();
    decoded.dataBytes = pcm.size();
    return ConvertPcmFrames(decoded, made);
}

void ReleaseWavFrames(DecodedSound& sound) {
    std::free(sound.frames);
    sound = DecodedSound{};
}
