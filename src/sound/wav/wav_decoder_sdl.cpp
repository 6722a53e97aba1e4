// WAV decoding on SDL: the portable parser walks the chunks and converts PCM
// and float itself (wav_parse.h), as on every system; the
// compressed encodings (MS and IMA ADPCM, A-law, mu-law) go to SDL2's loader.
#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "sound/wav/sdl_hints.h"
#include "sound/wav/wav_decoder.h"
#include "sound/wav/wav_parse.h"

namespace {

constexpr size_t kFormatBytes = 18;  // the fmt chunk's common part with its size field

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// Byte by byte: g++ 12 under -fsanitize=thread takes a four-byte insert into
// the reserved image for an overflow and warns.
void PutTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(tag[i]));
    }
}

// SDL's loader takes only whole images: it is handed one of just the fmt
// chunk and the data as parsed, every size exactly what is there.
bool DecodeWithSdl(const WavLayout& layout, size_t limit, std::vector<uint8_t>& pcm) {
    const size_t formatBytes = kFormatBytes + layout.extraBytes;
    const size_t imageBytes = 12 + 8 + formatBytes + (formatBytes & 1) + 8 + layout.dataBytes;
    if (imageBytes > INT32_MAX) {
        return false;
    }
    std::vector<uint8_t> image;
    image.reserve(imageBytes);
    PutTag(image, "RIFF");
    Put(image, static_cast<uint32_t>(imageBytes - 8), 4);
    PutTag(image, "WAVE");
    PutTag(image, "fmt ");
    Put(image, static_cast<uint32_t>(formatBytes), 4);
    Put(image, layout.encoding, 2);
    Put(image, layout.channels, 2);
    Put(image, layout.rate, 4);
    Put(image, layout.byteRate, 4);
    Put(image, layout.blockAlign, 2);
    Put(image, layout.bits, 2);
    Put(image, static_cast<uint32_t>(layout.extraBytes), 2);
    image.insert(image.end(), layout.extra, layout.extra + layout.extraBytes);
    if ((formatBytes & 1) != 0) {
        image.push_back(0);
    }
    PutTag(image, "data");
    Put(image, static_cast<uint32_t>(layout.dataBytes), 4);
    image.insert(image.end(), layout.data, layout.data + layout.dataBytes);

    SetSdlHintsOnce();
    SDL_AudioSpec spec{};
    Uint8* decoded = nullptr;
    Uint32 decodedBytes = 0;
    if (SDL_LoadWAV_RW(SDL_RWFromConstMem(image.data(), static_cast<int>(image.size())), 1, &spec,
                       &decoded, &decodedBytes) == nullptr) {
        return false;
    }
    image = {};
    pcm.assign(decoded, decoded + std::min<size_t>(decodedBytes, limit));
    SDL_FreeWAV(decoded);
    // What the parser reads back: 16-bit little-endian samples.
    return spec.format == AUDIO_S16LSB;
}

}  // namespace

// The RIFF size is often wrong in the wild; the parser checks every chunk
// against the image instead.
void SetSdlHintsOnce() {
    static std::once_flag hinted;
    std::call_once(hinted, [] { SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "maximum"); });
}

bool DecodeWavImage(const uint8_t* image, size_t length, DecodedSound& made) {
    return DecodeWavWith(image, length, made, DecodeWithSdl);
}

void ReleaseDecodedSound(DecodedSound& sound) {
    ReleaseWavFrames(sound);
}

// SDL keeps an error message for each thread that got one, and frees it only
// for threads of its own.
void EndDecodingThread() {
    SDL_TLSCleanup();
}
