// The Windows decoder's portable part on Linux, where the sanitizers run:
// SDL's loader stands in for the Audio Compression Manager, handed the
// compressed data in a file of its own as the system's codec is.
#include <SDL.h>

#include <algorithm>

#include "platform/portable/wav_decoder.h"
#include "platform/portable/wav_parse.h"
#include "wav_writer.h"

namespace {

bool SdlAsSystemCodec(const WavLayout& layout, size_t limit, std::vector<uint8_t>& pcm) {
    WavFormat format{layout.encoding, layout.channels,   layout.rate,
                     layout.bits,     layout.blockAlign, {}};
    PutLe(format.extra, static_cast<uint32_t>(layout.extraBytes), 2);
    format.extra.insert(format.extra.end(), layout.extra, layout.extra + layout.extraBytes);
    const WavBytes image = WavImage(format, WavBytes(layout.data, layout.data + layout.dataBytes));
    SDL_AudioSpec spec{};
    Uint8* decoded = nullptr;
    Uint32 bytes = 0;
    if (SDL_LoadWAV_RW(SDL_RWFromConstMem(image.data(), static_cast<int>(image.size())), 1, &spec,
                       &decoded, &bytes) == nullptr) {
        return false;
    }
    pcm.assign(decoded, decoded + std::min<size_t>(bytes, limit));
    SDL_FreeWAV(decoded);
    return spec.format == AUDIO_S16LSB;
}

}  // namespace

bool DecodeWavImage(const uint8_t* image, size_t length, DecodedSound& made) {
    return DecodeWavWith(image, length, made, SdlAsSystemCodec);
}

void ReleaseDecodedSound(DecodedSound& sound) {
    ReleaseWavFrames(sound);
}
