// The naive sound service, for comparison only: every play decodes and
// converts its image there and then, and queues it with SDL_QueueAudio on a
// device of SDL's default buffer. Linked into glowbrand-scripted-naive in
// place of the real service.
#include <SDL.h>

#include <climits>

#include "config.h"
#include "sound/sound.h"

namespace {

SDL_AudioDeviceID device = 0;

void OpenDevice() {
    if (device != 0) {
        return;
    }
    if (SDL_AudioInit(nullptr) != 0 && SDL_AudioInit("dummy") != 0) {
        return;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = 0;  // SDL's default
    SDL_AudioSpec obtained{};
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    SDL_PauseAudioDevice(device, 0);
}

}  // namespace

bool PrepareWavImage(const uint8_t*, size_t) {
    OpenDevice();
    return true;
}

void PrepareWavImageAhead(const uint8_t*, size_t) {
    OpenDevice();
}

void PlayWavImage(const uint8_t* image, size_t length) {
    OpenDevice();
    SDL_AudioSpec spec{};
    Uint8* decoded = nullptr;
    Uint32 bytes = 0;
    if (length > INT_MAX || SDL_LoadWAV_RW(SDL_RWFromConstMem(image, static_cast<int>(length)), 1,
                                           &spec, &decoded, &bytes) == nullptr) {
        return;
    }
    SDL_AudioCVT cvt{};
    if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS,
                          kOutputChannels, kOutputRate) < 0) {
        SDL_FreeWAV(decoded);
        return;
    }
    auto* work = static_cast<Uint8*>(SDL_malloc(static_cast<size_t>(bytes) * cvt.len_mult));
    SDL_memcpy(work, decoded, bytes);
    SDL_FreeWAV(decoded);
    cvt.buf = work;
    cvt.len = static_cast<int>(bytes);
    SDL_ConvertAudio(&cvt);
    SDL_ClearQueuedAudio(device);
    SDL_QueueAudio(device, work, static_cast<Uint32>(cvt.len_cvt));
    SDL_free(work);
}

void CloseSound() {
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_AudioQuit();
    }
}

// The comparison is of how a sound starts: this way has no hum.
void SetHumImage(const uint8_t*, size_t) {}
void SetHumLit(bool, const uint8_t*) {}
void SetHumEnergy(int32_t) {}
