// The system's WAV decoder (the portable parser, with SDL's loader on Linux
// and the Audio Compression Manager on Windows for the compressed
// encodings), held to the same samples on both, so that a file sounds the
// same whichever system plays it.
#include "sound/wav/wav_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "wav_images.h"
#include "wav_writer.h"

namespace {

using Bytes = WavBytes;

struct Decoded {
    bool ok = false;
    std::vector<int16_t> samples;
    int32_t channels = 0;
    int32_t rate = 0;
    size_t frames = 0;
};

// Decodes an exactly sized copy, so that a read past its end is a sanitizer
// error, and takes what was made.
Decoded Decode(const Bytes& image) {
    const Bytes copy = image;
    DecodedSound made;
    Decoded result;
    result.ok = DecodeWavImage(copy.data(), copy.size(), made);
    if (result.ok) {
        result.samples.assign(made.frames, made.frames + made.frameCount * made.channels);
        result.channels = made.channels;
        result.rate = made.rate;
        result.frames = made.frameCount;
    }
    ReleaseDecodedSound(made);
    EXPECT_EQ(made.frames, nullptr);
    return result;
}

// G.711 expansion, written from its definition.
int16_t MuLaw(uint8_t code) {
    const int u = ~code & 0xFF;
    const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
    return static_cast<int16_t>((u & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84);
}

int16_t ALaw(uint8_t code) {
    const int a = code ^ 0x55;
    const int exponent = (a >> 4) & 7;
    const int mantissa = (a & 0x0F) << 4;
    const int magnitude = exponent == 0 ? mantissa + 8 : (mantissa + 0x108) << (exponent - 1);
    return static_cast<int16_t>((a & 0x80) != 0 ? magnitude : -magnitude);
}

}  // namespace

TEST(WavDecoder, EveryEncodingGivesTheSameSamplesOnEverySystem) {
    // Frame 2 of the 1 kHz tone at 8 kHz is 0.6 * sin(pi / 2) of full scale.
    constexpr int32_t kPeak = 19660;
    WavFormat extensible = FrameFormat(0xFFFE, 2, 8000, 16);
    PutLe(extensible.extra, 22, 2);
    PutLe(extensible.extra, 16, 2);  // valid bits
    PutLe(extensible.extra, 3, 4);   // front left and right
    PutLe(extensible.extra, 1, 4);   // the PCM subformat
    for (const uint8_t byte :
         {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
        extensible.extra.push_back(byte);
    }
    const Bytes extensibleData = Pcm16Data({100, -100, 200, -200, 300, -300});

    struct Case {
        const char* name;
        Bytes image;
        int32_t channels;
        int32_t rate;
        size_t frames;
        std::vector<int16_t> first;  // the first samples, interleaved
        int tolerance;               // in the last bit, for widths rounded differently
    };
    const std::vector<Case> cases = {
        {"pcm16 mono", PcmTone(1, 16, 1, 8000, 0.01), 1, 8000, 80, {0, 13902, kPeak, 13902, 0}, 1},
        {"pcm8 stereo", PcmTone(1, 8, 2, 8000, 0.01), 2, 8000, 80, {0, 0, 13824, 13824, 19456}, 1},
        {"pcm24 mono", PcmTone(1, 24, 1, 8000, 0.01), 1, 8000, 80, {0, 13902, kPeak, 13902}, 1},
        {"pcm32 stereo", PcmTone(1, 32, 2, 8000, 0.01), 2, 8000, 80, {0, 0, 13902, 13902}, 1},
        {"float32 mono", PcmTone(3, 32, 1, 8000, 0.01), 1, 8000, 80, {0, 13902, kPeak, 13902}, 1},
        {"extensible pcm16 stereo",
         WavImage(extensible, extensibleData),
         2,
         8000,
         3,
         {100, -100, 200, -200, 300, -300},
         0},
        // Front left and right of 5.1 reach only their own side.
        {"pcm16 5.1",
         WavImage(FrameFormat(1, 6, 8000, 16), Pcm16Data({16384, -16384, 0, 0, 0, 0})),
         2,
         8000,
         1,
         {4826, -4826},
         1},
        // Past eight channels the first two are kept as they are.
        {"pcm16 12 channels",
         WavImage(FrameFormat(1, 12, 8000, 16), Pcm16Data({7, -7, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
                                                           5, -5, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9})),
         2,
         8000,
         2,
         {7, -7, 5, -5},
         0},
        {"mu-law stereo square",
         LawSquare(7, 0x80, 0x00, 2, 0.01),
         2,
         8000,
         80,
         {32124, 32124, 32124, 32124},
         0},
        {"a-law mono square",
         LawSquare(6, 0xAA, 0x2A, 1, 0.01),
         1,
         8000,
         80,
         {32256, 32256, 32256, 32256, -32256},
         0},
        // From the block header: sample 0 and step index 0 (step 7), then
        // nibbles of 7: +11 (step 16), +30 (step 34), +63 (step 73), +136.
        {"ima adpcm mono",
         WavImage(ImaFormat(), ImaBlocks(3)),
         1,
         8000,
         3 * 505,
         {0, 11, 41, 104, 240},
         0},
        {"ima adpcm stereo",
         WavImage(ImaFormat(2), ImaBlocks(2, 2)),
         2,
         8000,
         2 * 505,
         {0, 0, 11, 0, 41, 0, 104, 0, 240, 0},
         0},
        // Two header samples of 0, delta 16; nibbles 7, 7, -8 with the
        // first predictor pair (256, 0) and the delta growing as it adapts.
        {"ms adpcm mono", MsAdpcm(3), 1, 8000, 3 * 500, {0, 0, 112, 378, -350}, 0},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.image);
        ASSERT_TRUE(d.ok) << c.name;
        EXPECT_EQ(d.channels, c.channels) << c.name;
        EXPECT_EQ(d.rate, c.rate) << c.name;
        EXPECT_EQ(d.frames, c.frames) << c.name;
        ASSERT_GE(d.samples.size(), c.first.size()) << c.name;
        for (size_t i = 0; i < c.first.size(); ++i) {
            EXPECT_NEAR(d.samples[i], c.first[i], c.tolerance) << c.name << " sample " << i;
        }
    }
}

TEST(WavDecoder, CompandedCodesExpandToTheirG711Values) {
    Bytes codes;
    for (int code = 0; code < 256; ++code) {
        codes.push_back(static_cast<uint8_t>(code));
    }
    // Stereo at 16 kHz, a rate some G.711 codecs do not list.
    for (const uint16_t tag : {6, 7}) {
        const Decoded d = Decode(WavImage(FrameFormat(tag, 2, 16000, 8), codes));
        ASSERT_TRUE(d.ok) << tag;
        EXPECT_EQ(d.rate, 16000) << tag;
        ASSERT_EQ(d.channels, 2) << tag;
        ASSERT_EQ(d.samples.size(), 256u) << tag;
        for (int code = 0; code < 256; ++code) {
            const auto byte = static_cast<uint8_t>(code);
            EXPECT_EQ(d.samples[code], tag == 7 ? MuLaw(byte) : ALaw(byte)) << tag << " " << code;
        }
    }
}

// What a folder of sounds may hold. Each is decoded from an exactly sized
// copy; whatever it makes is bounded by the file.
TEST(WavDecoder, HostileImagesAreRefusedOrCutWithoutReadingPastThem) {
    const Bytes good = PcmTone(1, 16, 1, 8000, 0.05);
    Bytes riffClaims4Gb = good;
    std::fill(riffClaims4Gb.begin() + 4, riffClaims4Gb.begin() + 8, 0xFF);
    Bytes fmtClaims4Gb = good;
    std::fill(fmtClaims4Gb.begin() + 16, fmtClaims4Gb.begin() + 20, 0xFF);
    Bytes noise(4096);
    uint32_t state = 2006;
    for (uint8_t& byte : noise) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 16);
    }
    Bytes headerThenNoise = noise;
    std::copy(good.begin(), good.begin() + 12, headerThenNoise.begin());
    Bytes truncated = good;
    truncated.resize(good.size() - 201);  // the last 100 frames and a half lost
    // 30 MB of 8-bit PCM: more than a slot holds, decoded all the same.
    const Bytes large = WavImage(FrameFormat(1, 1, 8000, 8), Bytes(30'000'000, 0x90));

    constexpr int kRefused = -1;
    struct Case {
        const char* name;
        Bytes image;
        int64_t frames;  // kRefused, or the frames it decodes to
    };
    const std::vector<Case> cases = {
        {"empty", {}, kRefused},
        {"random bytes", noise, kRefused},
        {"a RIFF/WAVE header and then random bytes", headerThenNoise, kRefused},
        {"cut inside the RIFF header", Bytes(good.begin(), good.begin() + 11), kRefused},
        {"cut inside the fmt chunk", Bytes(good.begin(), good.begin() + 30), kRefused},
        {"a fmt chunk claiming 4 GB", fmtClaims4Gb, kRefused},
        {"no sample rate", WavImage({1, 1, 0, 16, 2, {}}, Bytes(800, 0x11)), kRefused},
        {"no channels", WavImage({1, 0, 8000, 16, 2, {}}, Bytes(800, 0x11)), kRefused},
        {"no bits per sample", WavImage({1, 1, 8000, 0, 2, {}}, Bytes(800, 0x11)), kRefused},
        {"12-bit pcm", WavImage({1, 1, 8000, 12, 2, {}}, Bytes(800, 0x11)), kRefused},
        {"float64", WavImage({3, 1, 8000, 64, 8, {}}, Bytes(800, 0)), kRefused},
        {"gsm 6.10", WavImage({0x31, 1, 8000, 0, 65, {2, 0, 64, 1}}, Bytes(650, 0x55)), kRefused},
        {"a RIFF size claiming 4 GB", riffClaims4Gb, 400},
        {"pcm data claiming 4 GB", WavImage(FrameFormat(1, 1, 8000, 16), Bytes(800, 0), 0xFFFFFFFF),
         400},
        {"ima adpcm data claiming 4 GB", WavImage(ImaFormat(), ImaBlocks(2), 0xFFFFFFF0), 2 * 505},
        {"an ima adpcm data chunk of no bytes", WavImage(ImaFormat(), {}), 0},
        {"truncated", truncated, 299},
        {"30 MB", large, 30'000'000},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.image);
        if (c.frames == kRefused) {
            EXPECT_FALSE(d.ok) << c.name;
            continue;
        }
        ASSERT_TRUE(d.ok) << c.name;
        EXPECT_EQ(d.frames, static_cast<size_t>(c.frames)) << c.name;
        EXPECT_LE(d.samples.size() * 2, c.image.size() * 4) << c.name;
    }
}

// Files the two systems' codecs would read apart, each given one behaviour:
// PCM with a block size of several frames, or of a part of one, plays as
// packed frames; MS ADPCM plays only with the standard coefficients, ADPCM
// only in a plain header.
TEST(WavDecoder, FilesTheCodecsWouldReadApartAreReadOneWay) {
    Bytes standard = MsAdpcm(2);
    Bytes own = standard;
    // The third pair's first coefficient: after the fmt chunk's header, its
    // 18 common bytes, the samples a block, the count and two pairs.
    own[20 + 18 + 4 + 2 * 4] = 0x7F;
    WavFormat extensibleIma = FrameFormat(0xFFFE, 1, 8000, 4);
    extensibleIma.blockAlign = 256;
    PutLe(extensibleIma.extra, 22, 2);
    PutLe(extensibleIma.extra, 4, 2);
    PutLe(extensibleIma.extra, 4, 4);
    PutLe(extensibleIma.extra, 0x11, 4);
    for (const uint8_t byte :
         {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
        extensibleIma.extra.push_back(byte);
    }
    constexpr int64_t kRefused = -1;
    const std::vector<std::tuple<const char*, Bytes, int64_t>> cases = {
        {"pcm16 mono, a block of two frames", WavImage({1, 1, 8000, 16, 4, {}}, Bytes(800, 0x11)),
         400},
        {"pcm16 stereo, a block of one sample", WavImage({1, 2, 8000, 16, 2, {}}, Bytes(800, 0x11)),
         200},
        {"pcm24 mono, a block of four bytes", WavImage({1, 1, 8000, 24, 4, {}}, Bytes(800, 0x11)),
         kRefused},
        {"ms adpcm, the standard coefficients", standard, 2 * 500},
        {"ms adpcm, coefficients of its own", own, kRefused},
        {"ima adpcm in an extensible header", WavImage(extensibleIma, ImaBlocks(2)), kRefused},
    };
    for (const auto& [name, image, frames] : cases) {
        const Decoded d = Decode(image);
        EXPECT_EQ(d.ok, frames != kRefused) << name;
        if (d.ok && frames != kRefused) {
            EXPECT_EQ(d.frames, static_cast<size_t>(frames)) << name;
        }
    }
}
