// WAV images decoded by SDL2's loader, which knows PCM of every width,
// float, MS and IMA ADPCM, µ-law and A-law; SDL's converter then brings the
// samples to 16-bit at the file's own rate.
#include "platform/portable/wav_decoder.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// Walks the chunks as SDL's loader does and finds the data chunk, so that no
// size SDL reads can point past the loaded image: SDL allocates what a chunk
// claims before reading it. A data chunk running past the end (a truncated
// file, or one longer than a slot) is cut to what is there.
bool FindDataChunk(const uint8_t* image, size_t length, size_t& sizeAt, uint32_t& size) {
    if (length < 12 || std::memcmp(image, "RIFF", 4) != 0 ||
        std::memcmp(image + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    size_t position = 12;
    while (length - position >= 8) {
        const uint8_t* header = image + position;
        const uint32_t claimed = ReadLe32(header + 4);
        const size_t available = length - position - 8;
        if (std::memcmp(header, "data", 4) == 0) {
            sizeAt = position + 4;
            size = static_cast<uint32_t>(std::min<size_t>(claimed, available));
            return haveFormat;  // SDL needs the format first
        }
        if (claimed > available) {
            return false;
        }
        haveFormat = haveFormat || std::memcmp(header, "fmt ", 4) == 0;
        position += 8 + size_t{claimed} + (claimed & 1);
        if (position > length) {
            return false;
        }
    }
    return false;
}

// Keeps the first two channels of layouts SDL cannot convert (more than 8).
void KeepFirstTwoChannels(Uint8* samples, size_t frames, int32_t channels, int32_t sampleBytes) {
    const size_t from = static_cast<size_t>(channels) * sampleBytes;
    const size_t to = 2 * static_cast<size_t>(sampleBytes);
    for (size_t f = 0; f < frames; ++f) {
        std::memmove(samples + f * to, samples + f * from, to);
    }
}

}  // namespace

bool DecodeWavImage(const uint8_t* image, size_t length, DecodedSound& made) {
    made = DecodedSound{};
    size_t sizeAt = 0;
    uint32_t dataSize = 0;
    if (length > INT32_MAX || !FindDataChunk(image, length, sizeAt, dataSize)) {
        return false;
    }
    std::vector<uint8_t> patched;
    const uint8_t* source = image;
    if (ReadLe32(image + sizeAt) != dataSize) {
        patched.assign(image, image + length);
        WriteLe32(patched.data() + sizeAt, dataSize);
        source = patched.data();
    }

    SDL_AudioSpec spec{};
    Uint8* decoded = nullptr;
    Uint32 decodedBytes = 0;
    if (SDL_LoadWAV_RW(SDL_RWFromConstMem(source, static_cast<int>(length)), 1, &spec, &decoded,
                       &decodedBytes) == nullptr) {
        return false;
    }
    patched = {};

    const int32_t sampleBytes = SDL_AUDIO_BITSIZE(spec.format) / 8;
    int32_t channels = spec.channels;
    const size_t sourceFrames = decodedBytes / (static_cast<size_t>(sampleBytes) * channels);
    if (channels > 8) {
        KeepFirstTwoChannels(decoded, sourceFrames, channels, sampleBytes);
        channels = 2;
    }
    const size_t sourceBytes = sourceFrames * sampleBytes * channels;
    const int32_t keptChannels = channels == 1 ? 1 : 2;
    // Same rate on both sides: SDL converts the samples and the layout only.
    SDL_AudioCVT cvt{};
    const int built = SDL_BuildAudioCVT(&cvt, spec.format, static_cast<Uint8>(channels), spec.freq,
                                        AUDIO_S16SYS, static_cast<Uint8>(keptChannels), spec.freq);
    const uint64_t workBytes =
        uint64_t{sourceBytes} * static_cast<uint64_t>(std::max(1, cvt.len_mult));
    if (built < 0 || workBytes > INT32_MAX || spec.freq <= 0) {
        SDL_FreeWAV(decoded);
        return false;
    }
    made.channels = keptChannels;
    made.rate = spec.freq;
    if (sourceBytes == 0) {  // a sound of no frames: plays silence, still cuts off
        SDL_FreeWAV(decoded);
        return true;
    }

    // Converted where SDL decoded it, grown first where 16-bit takes more.
    auto* work = static_cast<Uint8*>(SDL_realloc(decoded, static_cast<size_t>(workBytes)));
    if (work == nullptr) {
        SDL_FreeWAV(decoded);
        made = DecodedSound{};
        return false;
    }
    size_t outBytes = sourceBytes;
    if (built == 1) {
        cvt.buf = work;
        cvt.len = static_cast<int>(sourceBytes);
        if (SDL_ConvertAudio(&cvt) != 0) {
            SDL_free(work);
            made = DecodedSound{};
            return false;
        }
        outBytes = static_cast<size_t>(cvt.len_cvt);
    }
    made.frameCount = outBytes / (sizeof(int16_t) * keptChannels);
    void* fitted = SDL_realloc(work, std::max<size_t>(outBytes, 1));
    made.frames = static_cast<int16_t*>(fitted != nullptr ? fitted : work);
    return true;
}

void ReleaseDecodedSound(DecodedSound& sound) {
    SDL_free(sound.frames);
    sound = DecodedSound{};
}
