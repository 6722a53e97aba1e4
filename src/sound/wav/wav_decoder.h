// Turns a WAV image into frames the mixer can play: every system walks the
// chunks and converts PCM with the portable parser (wav_parse.h) and decodes
// the compressed encodings with a library of its own (wav_decoder_sdl.cpp:
// SDL's loader; wav_decoder_acm.cpp: the Audio Compression Manager).
#pragma once

#include <cstddef>
#include <cstdint>

struct DecodedSound {
    int16_t* frames = nullptr;  // interleaved, `channels` samples a frame; owned
    size_t frameCount = 0;
    int32_t channels = 1;  // 1 or 2: a mono file stays mono, more than two keep two
    int32_t rate = 0;      // the file's own frames per second, > 0
};

// Decodes the image of `length` bytes at `image` to 16-bit frames at its own
// rate. Reads only within `length`. Returns false when it cannot be played
// (empty, not RIFF/WAVE, truncated header, unsupported encoding, a chunk
// claiming more than is there before the data); `made` then holds nothing.
// A sound of no frames is playable: it sounds as silence.
bool DecodeWavImage(const uint8_t* image, size_t length, DecodedSound& made);

// Frees what DecodeWavImage allocated, and empties `sound`.
void ReleaseDecodedSound(DecodedSound& sound);

// Frees what the decoder keeps for the calling thread: a thread that decoded
// calls it before it ends.
void EndDecodingThread();
