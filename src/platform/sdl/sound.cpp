// The sound service on SDL2 audio. Every image is decoded and converted to the
// device format once, ahead of its first play; the audio callback then only
// copies frames, and a play is one atomic store.
#include "platform/sound.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "config.h"
#include "platform/sdl/host.h"

namespace {

constexpr size_t kFrameBytes = sizeof(int16_t) * kOutputChannels;
constexpr int32_t kAlertFrames = kOutputRate / 1000 * kAlertToneMs;

struct PreparedSound {
    bool used = false;
    const uint8_t* image = nullptr;
    size_t length = 0;
    bool playable = false;
    int16_t* frames = nullptr;  // interleaved, device format; owned unless it is the alert
    size_t frameCount = 0;
};

SDL_AudioDeviceID device = 0;
bool closeAtExit = false;
int16_t alertTone[kAlertFrames * kOutputChannels];
PreparedSound prepared[kMaxPreparedImages];
int32_t nextReplaced = 0;  // the entry given up when all are taken

// Written by PlayWavImage, read by the callback: the play count in the upper
// half, the entry to play plus one in the lower half.
std::atomic<uint64_t> request{0};

// The callback's own state, also touched under the device lock.
uint64_t playingRequest = 0;
int32_t playingEntry = -1;
size_t playingPosition = 0;

uint32_t ReadLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void WriteLe32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void IgnoreSdlLog(void*, int, SDL_LogPriority, const char*) {}

// The program's console belongs to the banner: neither SDL nor the audio
// libraries beneath it may print there.
void SilenceLibraries() {
    SDL_LogSetOutputFunction(IgnoreSdlLog, nullptr);
    SilenceAudioLibraries();
}

// A soft two-partial beep with smooth ends, so that it never clicks.
void MakeAlertTone() {
    const double fadeFrames = kOutputRate * 0.005;
    for (int32_t i = 0; i < kAlertFrames; ++i) {
        const double t = static_cast<double>(i) / kOutputRate;
        const double rise = std::min(1.0, i / fadeFrames);
        const double fall = std::min(1.0, (kAlertFrames - 1 - i) / fadeFrames);
        const double decay = std::exp(-t * 12.0);
        const double wave = std::sin(2 * std::numbers::pi * kAlertToneHz * t) +
                            0.2 * std::sin(2 * std::numbers::pi * 2 * kAlertToneHz * t);
        const auto sample = static_cast<int16_t>(9000.0 * rise * fall * decay * wave);
        for (int32_t c = 0; c < kOutputChannels; ++c) {
            alertTone[i * kOutputChannels + c] = sample;
        }
    }
}

void FillAudio(void*, Uint8* stream, int bytes) {
    const uint64_t latest = request.load(std::memory_order_acquire);
    const size_t wanted = static_cast<size_t>(bytes) / kFrameBytes;
    auto* out = reinterpret_cast<int16_t*>(stream);
    std::memset(stream, 0, static_cast<size_t>(bytes));

    int32_t fadingEntry = -1;
    size_t fadingPosition = 0;
    if (latest != playingRequest) {
        fadingEntry = playingEntry;
        fadingPosition = playingPosition;
        playingRequest = latest;
        playingEntry = static_cast<int32_t>(latest & 0xFFFFFFFF) - 1;
        playingPosition = 0;
    }

    if (playingEntry >= 0) {
        const PreparedSound& sound = prepared[playingEntry];
        if (playingPosition < sound.frameCount) {
            const size_t count = std::min(wanted, sound.frameCount - playingPosition);
            std::memcpy(out, sound.frames + playingPosition * kOutputChannels, count * kFrameBytes);
            playingPosition += count;
        }
    }

    // The cut-off sound dies away under the new one's first frames.
    if (fadingEntry >= 0) {
        const PreparedSound& old = prepared[fadingEntry];
        const size_t left = fadingPosition < old.frameCount ? old.frameCount - fadingPosition : 0;
        const size_t fade = std::min({wanted, left, static_cast<size_t>(kCutFadeFrames)});
        for (size_t i = 0; i < fade; ++i) {
            const double gain = 1.0 - static_cast<double>(i) / kCutFadeFrames;
            for (size_t c = 0; c < kOutputChannels; ++c) {
                const size_t at = i * kOutputChannels + c;
                const double mixed =
                    out[at] + gain * old.frames[(fadingPosition + i) * kOutputChannels + c];
                out[at] = static_cast<int16_t>(std::clamp(mixed, -32768.0, 32767.0));
            }
        }
    }
}

SDL_AudioDeviceID OpenOutput() {
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = kOutputBufferFrames;
    wanted.callback = FillAudio;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts for the hardware behind the callback.
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
}

// Honours SDL_AUDIODRIVER; where no device opens, the program runs on
// silently with the dummy driver rather than failing.
void OpenDevice() {
    if (device != 0) {
        return;
    }
    SilenceLibraries();
    // The RIFF size is often wrong in the wild; FindDataChunk checks every
    // chunk against the image instead. Set before the audio thread starts:
    // SDL's hints are not safe to change while another thread reads them.
    SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "maximum");
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
        return;
    }
    MakeAlertTone();
    request.store(0);
    playingRequest = 0;
    playingEntry = -1;
    playingPosition = 0;
    SDL_PauseAudioDevice(device, 0);
    if (!closeAtExit) {
        closeAtExit = true;
        std::atexit(CloseSound);
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

// Decodes and converts an image; false when it cannot be played.
bool Decode(const uint8_t* image, size_t length, int16_t*& frames, size_t& frameCount) {
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
    size_t sourceFrames = decodedBytes / (static_cast<size_t>(sampleBytes) * channels);
    sourceFrames = std::min(sourceFrames, static_cast<size_t>(kMaxSoundSeconds) * spec.freq);
    if (channels > 8) {
        KeepFirstTwoChannels(decoded, sourceFrames, channels, sampleBytes);
        channels = 2;
    }
    const size_t sourceBytes = sourceFrames * sampleBytes * channels;
    if (sourceBytes == 0) {  // a sound of no frames: plays silence, still cuts off
        SDL_FreeWAV(decoded);
        frames = nullptr;
        frameCount = 0;
        return true;
    }

    SDL_AudioCVT cvt{};
    const int built = SDL_BuildAudioCVT(&cvt, spec.format, static_cast<Uint8>(channels), spec.freq,
                                        AUDIO_S16SYS, kOutputChannels, kOutputRate);
    const uint64_t workBytes =
        uint64_t{sourceBytes} * static_cast<uint64_t>(std::max(1, cvt.len_mult));
    if (built < 0 || workBytes > INT32_MAX) {
        SDL_FreeWAV(decoded);
        return false;
    }
    auto* work = static_cast<Uint8*>(SDL_malloc(std::max<size_t>(workBytes, 1)));
    if (work == nullptr) {
        SDL_FreeWAV(decoded);
        return false;
    }
    std::memcpy(work, decoded, sourceBytes);
    SDL_FreeWAV(decoded);
    size_t outBytes = sourceBytes;
    if (built == 1) {
        cvt.buf = work;
        cvt.len = static_cast<int>(sourceBytes);
        if (SDL_ConvertAudio(&cvt) != 0) {
            SDL_free(work);
            return false;
        }
        outBytes = static_cast<size_t>(cvt.len_cvt);
    }
    frameCount = outBytes / kFrameBytes;
    void* fitted = SDL_realloc(work, std::max<size_t>(outBytes, 1));
    frames = static_cast<int16_t*>(fitted != nullptr ? fitted : work);
    return true;
}

int32_t FindPrepared(const uint8_t* image, size_t length) {
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (prepared[i].used && prepared[i].image == image && prepared[i].length == length) {
            return i;
        }
    }
    return -1;
}

void Release(PreparedSound& sound) {
    if (sound.frames != alertTone) {
        SDL_free(sound.frames);
    }
    sound = PreparedSound{};
}

}  // namespace

bool PrepareWavImage(const uint8_t* image, size_t length) {
    OpenDevice();
    PreparedSound made;
    made.used = true;
    made.image = image;
    made.length = length;
    made.playable = image != nullptr && Decode(image, length, made.frames, made.frameCount);
    if (!made.playable) {
        made.frames = alertTone;
        made.frameCount = kAlertFrames;
    }

    int32_t entry = -1;
    for (int32_t i = 0; i < kMaxPreparedImages && entry < 0; ++i) {
        if (prepared[i].used && prepared[i].image == image) {
            entry = i;
        }
    }
    for (int32_t i = 0; i < kMaxPreparedImages && entry < 0; ++i) {
        if (!prepared[i].used) {
            entry = i;
        }
    }
    if (entry < 0) {
        entry = nextReplaced;
        nextReplaced = (nextReplaced + 1) % kMaxPreparedImages;
    }
    // The callback reads the table under this lock.
    SDL_LockAudioDevice(device);
    if (playingEntry == entry) {
        playingEntry = -1;
    }
    Release(prepared[entry]);
    prepared[entry] = made;
    SDL_UnlockAudioDevice(device);
    return made.playable;
}

void PlayWavImage(const uint8_t* image, size_t length) {
    int32_t entry = FindPrepared(image, length);
    if (entry < 0) {
        PrepareWavImage(image, length);
        entry = FindPrepared(image, length);
    }
    if (device == 0 || entry < 0) {
        return;
    }
    const uint64_t plays = (request.load(std::memory_order_relaxed) >> 32) + 1;
    request.store(plays << 32 | static_cast<uint64_t>(entry + 1), std::memory_order_release);
}

void CloseSound() {
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_AudioQuit();
    }
    for (PreparedSound& sound : prepared) {
        Release(sound);
    }
    nextReplaced = 0;
}
