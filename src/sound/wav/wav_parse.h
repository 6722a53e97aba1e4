// WAV decoding without the system's help, the same on every system: the
// RIFF/WAVE chunks walked with every size checked against the image (the
// only chunk walker), and PCM and float samples converted to 16-bit frames.
// Compressed encodings are handed to a codec of the system's (SDL's loader,
// the Audio Compression Manager) as parsed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sound/wav/wav_decoder.h"

// Format tags of the fmt chunk.
constexpr uint16_t kWavPcm = 1;
constexpr uint16_t kWavMsAdpcm = 2;
constexpr uint16_t kWavFloat = 3;
constexpr uint16_t kWavALaw = 6;
constexpr uint16_t kWavMuLaw = 7;
constexpr uint16_t kWavImaAdpcm = 0x11;
constexpr uint16_t kWavExtensible = 0xFFFE;

// What the fmt and data chunks of an image say; the pointers point into it.
struct WavLayout {
    uint16_t encoding = 0;  // an extensible header's subformat where it has one we know
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    // The codec's own bytes after the 18 common ones (an ADPCM coefficient
    // table, say), as many as the fmt chunk holds; none for an extensible one.
    const uint8_t* extra = nullptr;
    size_t extraBytes = 0;
    const uint8_t* data = nullptr;  // the data chunk's bytes, cut to what the image holds
    size_t dataBytes = 0;
};

// Walks the chunks of the image of `length` bytes up to its data chunk.
// False when it is not RIFF/WAVE, has no fmt chunk before the data, a chunk
// other than the data claims more than is there, or the fmt chunk says no
// channels or no rate. A data chunk running past the end is cut to the end;
// the RIFF size is not trusted (it is often wrong in the wild).
bool ParseWavImage(const uint8_t* image, size_t length, WavLayout& layout);

// Converts PCM (8-bit unsigned, 16, 24, 32-bit) or 32-bit float data to
// 16-bit frames at the file's rate: one channel stays one, two or more give
// two. The samples are read as packed frames; false for any other encoding,
// or a block size that neither holds whole frames nor divides a frame.
bool ConvertPcmFrames(const WavLayout& layout, DecodedSound& made);

// The system's codec for the compressed encodings: turns `layout`'s data into
// 16-bit PCM of its channels and rate in `pcm` (little-endian bytes), at most
// `limit` bytes of it. False when it cannot.
using SystemCodec = bool (*)(const WavLayout& layout, size_t limit, std::vector<uint8_t>& pcm);

// The whole decoding: PCM and float here, the rest through `codec`. What it
// makes holds at most four times the data's bytes (what IMA ADPCM expands to).
// MS ADPCM plays only with the standard table of seven coefficient pairs,
// ADPCM only in a plain header: the codecs of the systems differ beyond.
bool DecodeWavWith(const uint8_t* image, size_t length, DecodedSound& made, SystemCodec codec);

// Frees what DecodeWavWith allocated, and empties `sound`.
void ReleaseWavFrames(DecodedSound& sound);
