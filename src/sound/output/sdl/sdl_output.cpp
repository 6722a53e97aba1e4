// The sound device on SDL2 audio: SDL's audio thread pulls the mixer's
// frames in buffers of one period, stereo 16-bit at the output rate; SDL
// converts for the hardware behind it.
#include <SDL.h>

#include <cstring>

#include "config.h"
#include "platform/sdl/host.h"
#include "platform/sdl/sdl_lock.h"
#include "sound/mixer.h"
#include "sound/output/pipewire/pipewire_output.h"
#include "sound/output/pulse/pulse_output.h"
#include "sound/output/sound_device.h"

namespace {

static_assert(kOutputChannels == 2, "the mixer writes stereo frames");

SDL_AudioDeviceID device = 0;
SDL_AudioSpec opened{};  // what the open device got

void IgnoreSdlLog(void*, int, SDL_LogPriority, const char*) {}

// The program's console belongs to the banner: neither SDL nor the audio
// libraries beneath it may print there.
void SilenceLibraries() {
    SDL_LogSetOutputFunction(IgnoreSdlLog, nullptr);
    SilenceAudioLibraries();
}

void FillAudio(void*, Uint8* stream, int bytes) {
    const size_t frames = static_cast<size_t>(bytes) / (sizeof(int16_t) * kOutputChannels);
    MixSound(reinterpret_cast<int16_t*>(stream), frames, kOutputRate);
}

// SDL lets the PulseAudio and PipeWire servers hold a single period, so those
// drivers get the period that held there; the rest the device's own.
int PeriodFrames(const char* driver) {
    if (driver != nullptr && std::strcmp(driver, "pulseaudio") == 0) {
        return kPulseAudioBufferFrames;
    }
    if (driver != nullptr && std::strcmp(driver, "pipewire") == 0) {
        return kPipeWireBufferFrames;
    }
    return kOutputBufferFrames;
}

SDL_AudioDeviceID OpenOutput() {
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = static_cast<Uint16>(PeriodFrames(SDL_GetCurrentAudioDriver()));
    wanted.callback = FillAudio;
    // No changes allowed: SDL converts for the hardware behind the callback.
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, &opened, 0);
}

bool UsersOwnDriver() {
    const char* chosen = SDL_getenv("SDL_AUDIODRIVER");
    return chosen != nullptr && chosen[0] != '\0';
}

}  // namespace

// Honours SDL_AUDIODRIVER, the user's choice, which wins. Else the program's
// own PipeWire stream where PipeWire serves: SDL 2.26 would take its
// pulseaudio driver there and play through pipewire-pulse, about three times
// as late, and its own PipeWire driver now and then misses a cycle. Else the
// program's own PulseAudio stream where PulseAudio itself serves (SDL's
// driver has the server hold a single period there, so a short one underruns
// and a long one is late); else SDL's order. The PipeWire socket is looked
// at first, so that machines without PipeWire never connect to it. Where no
// device opens, the program runs on silently with the dummy driver rather
// than failing.
bool OpenSoundDevice() {
    const SdlLock sdl;
    if (device != 0 || PulseOutputOpen() || PipeWireOutputOpen()) {
        return true;
    }
    SilenceLibraries();
    // The RIFF size is often wrong in the wild; the decoder checks every
    // chunk against the image instead. Set before the audio thread and the
    // decoding worker start: SDL's hints are not safe to change while
    // another thread reads them.
    SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "maximum");
    const bool usersOwn = UsersOwnDriver();
    if (!usersOwn && PipeWireSocketPresent() && OpenPipeWireOutput()) {
        return true;
    }
    if (!usersOwn && OpenPulseOutput()) {
        return true;
    }
    if (SDL_AudioInit(nullptr) == 0) {
        device = OpenOutput();
    }
    if (device == 0) {
        SDL_AudioQuit();
        if (SDL_AudioInit("dummy") == 0) {
            device = OpenOutput();
        }
    }
    if (device == 0) {
        return false;
    }
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void CloseSoundDevice() {
    const SdlLock sdl;
    ClosePipeWireOutput();
    ClosePulseOutput();
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_AudioQuit();
    }
}

// The program's own streams have a lock each, cheap when idle.
void LockSoundDevice() {
    LockPulseOutput();
    LockPipeWireOutput();
    if (device != 0) {
        SDL_LockAudioDevice(device);
    }
}

void UnlockSoundDevice() {
    if (device != 0) {
        SDL_UnlockAudioDevice(device);
    }
    UnlockPipeWireOutput();
    UnlockPulseOutput();
}

// SDL's drivers queue no more than a period or two, so only the program's
// own PulseAudio stream has a queue to skip.
void SkipSoundDeviceQueue() {
    SkipPulseQueue();
}

bool DescribeSoundDevice(SoundDeviceFacts& facts) {
    if (!OpenSoundDevice()) {
        return false;
    }
    // SDL's audio is not started for the program's own streams.
    if (PipeWireOutputOpen()) {
        facts.driver = "pipewire (the program's own stream)";
        facts.rate = kOutputRate;
        facts.periodFrames = kPipeWireBufferFrames;
        facts.silent = false;
    } else if (PulseOutputOpen()) {
        facts.driver = "pulseaudio (the program's own stream)";
        facts.rate = kOutputRate;
        facts.periodFrames = kPulseRefillFrames;
        facts.silent = false;
    } else {
        const SdlLock sdl;
        const char* driver = SDL_GetCurrentAudioDriver();
        facts.driver = driver != nullptr ? driver : "";
        facts.rate = opened.freq;
        facts.periodFrames = opened.samples;
        facts.silent = facts.driver == "dummy" || facts.driver == "disk";
    }
    CloseSoundDevice();
    return true;
}
