// The outputs on SDL2 audio. SDL's subsystem calls are made under the SDL
// lock (platform/sdl/sdl_lock.h), which the message box takes as well.
#include "sound/output/sdl/sdl_output.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "config.h"
#include "platform/sdl/sdl_lock.h"
#include "sound/wav/sdl_hints.h"

namespace {

static_assert(kOutputChannels == 2, "the mixer writes stereo frames");

SDL_AudioDeviceID device = 0;
SDL_AudioSpec opened{};  // what the open device got
MixerPull pulling;       // set before the device starts, read by SDL's thread
// What the pull reads is changed under this lock: it outlives every device,
// so a lock taken while one opens or closes is let go of as it was taken.
std::mutex mixing;

void IgnoreSdlLog(void*, int, SDL_LogPriority, const char*) {}

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// On a machine without a sound card, ALSA prints its errors while SDL probes
// it. SDL loads ALSA at run time, so the handler is set through the same
// library, which stays loaded: the handler must outlive every later use.
void SilenceAlsa() {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
    if (alsa == nullptr) {
        return;
    }
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set != nullptr) {
        set(IgnoreAlsaError);
    }
}

// The program's console belongs to the banner: neither SDL nor the audio
// libraries beneath it may print there.
void SilenceLibraries() {
    SDL_LogSetOutputFunction(IgnoreSdlLog, nullptr);
    SilenceAlsa();
}

void FillAudio(void*, Uint8* stream, int bytes) {
    const size_t frames = static_cast<size_t>(bytes) / (sizeof(int16_t) * kOutputChannels);
    const std::lock_guard lock(mixing);
    pulling.mix(reinterpret_cast<int16_t*>(stream), frames, kOutputRate);
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

// Under the SDL lock: SDL's audio on `driver` (SDL's choice, which honours
// SDL_AUDIODRIVER, where null), with a device open and playing.
bool OpenOn(const char* driver, const MixerPull& pull) {
    if (device != 0) {
        return true;
    }
    SilenceLibraries();
    SetSdlHintsOnce();
    if (SDL_AudioInit(driver) != 0) {
        SDL_AudioQuit();
        return false;
    }
    pulling = pull;
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = static_cast<Uint16>(PeriodFrames(SDL_GetCurrentAudioDriver()));
    wanted.callback = FillAudio;
    // No changes allowed: SDL converts for the hardware behind the callback.
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &opened, 0);
    if (device == 0) {
        SDL_AudioQuit();
        return false;
    }
    SDL_PauseAudioDevice(device, 0);
    return true;
}

bool UsersOwnDriver() {
    const char* chosen = SDL_getenv("SDL_AUDIODRIVER");
    return chosen != nullptr && chosen[0] != '\0';
}

// Under the SDL lock, with a device open.
void NoteFacts(SoundDeviceFacts& facts) {
    const char* driver = SDL_GetCurrentAudioDriver();
    facts.driver = driver != nullptr ? driver : "";
    facts.rate = opened.freq;
    facts.periodFrames = opened.samples;
    facts.silent = facts.driver == "dummy" || facts.driver == "disk";
}

void CloseUnderLock() {
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_AudioQuit();
    }
}

template <typename Open>
bool Describe(Open open, const MixerPull& pull, SoundDeviceFacts& facts) {
    const SdlLock sdl;
    if (!open(pull)) {
        return false;
    }
    NoteFacts(facts);
    CloseUnderLock();
    return true;
}

bool OpenUsersUnderLock(const MixerPull& pull) {
    return UsersOwnDriver() && (OpenOn(nullptr, pull) || OpenOn("dummy", pull));
}

bool OpenSdlUnderLock(const MixerPull& pull) {
    return OpenOn(nullptr, pull);
}

bool OpenSilenceUnderLock(const MixerPull& pull) {
    return OpenOn("dummy", pull);
}

}  // namespace

bool OpenUsersSdlDriver(const MixerPull& pull) {
    const SdlLock sdl;
    return OpenUsersUnderLock(pull);
}

bool DescribeUsersSdlDriver(const MixerPull& pull, SoundDeviceFacts& facts) {
    return Describe(OpenUsersUnderLock, pull, facts);
}

bool OpenSdlOutput(const MixerPull& pull) {
    const SdlLock sdl;
    return OpenSdlUnderLock(pull);
}

bool DescribeSdlOutput(const MixerPull& pull, SoundDeviceFacts& facts) {
    return Describe(OpenSdlUnderLock, pull, facts);
}

bool OpenSdlSilence(const MixerPull& pull) {
    const SdlLock sdl;
    return OpenSilenceUnderLock(pull);
}

bool DescribeSdlSilence(const MixerPull& pull, SoundDeviceFacts& facts) {
    return Describe(OpenSilenceUnderLock, pull, facts);
}

void CloseSdlOutput() {
    const SdlLock sdl;
    CloseUnderLock();
}

// Without the SDL lock, which a message box holds while it is shown: the
// sound device, which asks this, never opens or closes SDL's device at the
// same time.
bool SdlOutputLost() {
    return device != 0 && SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED;
}

void LockSdlOutput() {
    mixing.lock();
}

void UnlockSdlOutput() {
    mixing.unlock();
}
