// The sound service on SDL2 audio. An image is decoded once, ahead of its
// first play, to 16-bit frames of one or two channels at its own rate: what
// it holds in memory is bounded by the file, whatever its rate or length.
// The audio callback resamples the playing sound to the device rate as it
// goes, a buffer at a time, and a play is one atomic store. Not through an
// SDL_AudioStream: SDL2's converts at least 512 source frames at a time,
// which from a 1 Hz file is 24 million device frames in one callback.
#include "platform/sound.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "config.h"
#include "platform/sdl/host.h"

namespace {

static_assert(kOutputChannels == 2, "the callback writes stereo frames");
constexpr size_t kFrameBytes = sizeof(int16_t) * kOutputChannels;
constexpr int32_t kAlertFrames = kOutputRate / 1000 * kAlertToneMs;

struct PreparedSound {
    bool used = false;
    const uint8_t* image = nullptr;
    size_t length = 0;
    bool playable = false;
    int16_t* frames = nullptr;  // interleaved; owned unless it is the alert
    size_t frameCount = 0;
    int32_t channels = 1;  // 1 or 2
    // Source frames per device frame, in 32.32 fixed point.
    uint64_t step = uint64_t{1} << 32;
};

SDL_AudioDeviceID device = 0;
bool closeAtExit = false;
int16_t alertTone[kAlertFrames * kOutputChannels];
PreparedSound prepared[kMaxPreparedImages];
int32_t nextReplaced = 0;  // the entry given up when all are taken

// Guards the table against the worker; the callback reads it under the
// device lock instead, which every change also takes.
std::mutex tableMutex;

// Images handed to PrepareWavImageAhead, prepared in order by the worker.
struct Queued {
    const uint8_t* image;
    size_t length;
};
Queued queued[kMaxPreparedImages];
int32_t queuedCount = 0;
int32_t preparedCount = 0;  // of the queued ones, done
bool workerIdle = true;
std::thread worker;
std::condition_variable queueMoved;  // with tableMutex

// Written by PlayWavImage, read by the callback: the play count in the upper
// half, the entry to play plus one in the lower half.
std::atomic<uint64_t> request{0};

// The callback's own state, also touched under the device lock. A position
// counts source frames in 32.32 fixed point.
uint64_t playingRequest = 0;
int32_t playingEntry = -1;
uint64_t playingPosition = 0;

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

// The sound at `position`, by cubic interpolation between the four source
// frames around it; false once the position is past its last frame. At a
// whole position (a sound at the device rate) this is the frame itself.
bool FrameAt(const PreparedSound& sound, uint64_t position, float frame[2]) {
    const size_t at = static_cast<size_t>(position >> 32);
    if (at >= sound.frameCount) {
        return false;
    }
    const float t = static_cast<float>(position & 0xFFFFFFFF) / 4294967296.0f;
    const size_t last = sound.frameCount - 1;
    const size_t around[4] = {at == 0 ? 0 : at - 1, at, std::min(at + 1, last),
                              std::min(at + 2, last)};
    for (int32_t c = 0; c < 2; ++c) {
        const int32_t channel = std::min(c, sound.channels - 1);
        float p[4];
        for (int i = 0; i < 4; ++i) {
            p[i] = sound.frames[around[i] * sound.channels + channel];
        }
        frame[c] = p[1] + 0.5f * t *
                              (p[2] - p[0] +
                               t * (2 * p[0] - 5 * p[1] + 4 * p[2] - p[3] +
                                    t * (3 * (p[1] - p[2]) + p[3] - p[0])));
    }
    return true;
}

int16_t ToSample(float value) {
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0f, 32767.0f)));
}

void FillAudio(void*, Uint8* stream, int bytes) {
    const uint64_t latest = request.load(std::memory_order_acquire);
    const size_t wanted = static_cast<size_t>(bytes) / kFrameBytes;
    auto* out = reinterpret_cast<int16_t*>(stream);
    std::memset(stream, 0, static_cast<size_t>(bytes));

    int32_t fadingEntry = -1;
    uint64_t fadingPosition = 0;
    if (latest != playingRequest) {
        fadingEntry = playingEntry;
        fadingPosition = playingPosition;
        playingRequest = latest;
        playingEntry = static_cast<int32_t>(latest & 0xFFFFFFFF) - 1;
        playingPosition = 0;
    }

    float frame[2];
    if (playingEntry >= 0) {
        const PreparedSound& sound = prepared[playingEntry];
        for (size_t i = 0; i < wanted && FrameAt(sound, playingPosition, frame); ++i) {
            out[i * 2] = ToSample(frame[0]);
            out[i * 2 + 1] = ToSample(frame[1]);
            playingPosition += sound.step;
        }
    }

    // The cut-off sound dies away under the new one's first frames.
    if (fadingEntry >= 0) {
        const PreparedSound& old = prepared[fadingEntry];
        const size_t fade = std::min(wanted, static_cast<size_t>(kCutFadeFrames));
        for (size_t i = 0; i < fade && FrameAt(old, fadingPosition, frame); ++i) {
            const float gain = 1.0f - static_cast<float>(i) / kCutFadeFrames;
            out[i * 2] = ToSample(out[i * 2] + gain * frame[0]);
            out[i * 2 + 1] = ToSample(out[i * 2 + 1] + gain * frame[1]);
            fadingPosition += old.step;
        }
    }
}

SDL_AudioDeviceID OpenOutput() {
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool pulse = driver != nullptr && std::strcmp(driver, "pulseaudio") == 0;
    wanted.samples = pulse ? kPulseAudioBufferFrames : kOutputBufferFrames;
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

// Decodes an image to 16-bit frames of one channel (a mono file) or two, at
// its own rate; false when it cannot be played.
bool Decode(const uint8_t* image, size_t length, PreparedSound& made) {
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
    if (built < 0 || workBytes > INT32_MAX) {
        SDL_FreeWAV(decoded);
        return false;
    }
    made.channels = keptChannels;
    made.step = (uint64_t{static_cast<uint32_t>(spec.freq)} << 32) / kOutputRate;
    if (sourceBytes == 0) {  // a sound of no frames: plays silence, still cuts off
        SDL_FreeWAV(decoded);
        return true;
    }

    // Converted where SDL decoded it, grown first where 16-bit takes more.
    auto* work = static_cast<Uint8*>(SDL_realloc(decoded, static_cast<size_t>(workBytes)));
    if (work == nullptr) {
        SDL_FreeWAV(decoded);
        return false;
    }
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
    made.frameCount = outBytes / (sizeof(int16_t) * keptChannels);
    void* fitted = SDL_realloc(work, std::max<size_t>(outBytes, 1));
    made.frames = static_cast<int16_t*>(fitted != nullptr ? fitted : work);
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

// Decodes without the table lock, then puts the result in the table.
bool PrepareNow(const uint8_t* image, size_t length) {
    OpenDevice();
    PreparedSound made;
    made.used = true;
    made.image = image;
    made.length = length;
    made.playable = image != nullptr && Decode(image, length, made);
    if (!made.playable) {
        Release(made);
        made.used = true;
        made.image = image;
        made.length = length;
        made.frames = alertTone;
        made.frameCount = kAlertFrames;
        made.channels = kOutputChannels;
    }

    const std::lock_guard lock(tableMutex);
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
    SDL_LockAudioDevice(device);
    if (playingEntry == entry) {
        playingEntry = -1;
    }
    Release(prepared[entry]);
    prepared[entry] = made;
    SDL_UnlockAudioDevice(device);
    return made.playable;
}

void PrepareQueued() {
    std::unique_lock lock(tableMutex);
    while (preparedCount < queuedCount) {
        const Queued next = queued[preparedCount];
        lock.unlock();
        PrepareNow(next.image, next.length);
        lock.lock();
        ++preparedCount;
        queueMoved.notify_all();
    }
    workerIdle = true;
}

// Waits until the worker has prepared the image, if it is queued, or has
// done all it was given (`image` null).
void AwaitQueued(const uint8_t* image, size_t length) {
    std::unique_lock lock(tableMutex);
    int32_t index = queuedCount - 1;
    if (image != nullptr) {
        index = -1;
        for (int32_t i = 0; i < queuedCount; ++i) {
            if (queued[i].image == image && queued[i].length == length) {
                index = i;
            }
        }
    }
    queueMoved.wait(lock, [index] { return preparedCount > index; });
    if (image == nullptr && worker.joinable()) {
        lock.unlock();
        worker.join();
    }
}

}  // namespace

void PrepareWavImageAhead(const uint8_t* image, size_t length) {
    if (!closeAtExit) {
        closeAtExit = true;
        std::atexit(CloseSound);
    }
    std::unique_lock lock(tableMutex);
    if (queuedCount == kMaxPreparedImages) {
        lock.unlock();
        PrepareWavImage(image, length);
        return;
    }
    queued[queuedCount++] = {image, length};
    if (workerIdle) {
        workerIdle = false;
        lock.unlock();
        if (worker.joinable()) {
            worker.join();  // ended: it went idle
        }
        worker = std::thread(PrepareQueued);
    }
}

bool PrepareWavImage(const uint8_t* image, size_t length) {
    AwaitQueued(nullptr, 0);
    if (!closeAtExit) {
        closeAtExit = true;
        std::atexit(CloseSound);
    }
    return PrepareNow(image, length);
}

void PlayWavImage(const uint8_t* image, size_t length) {
    AwaitQueued(image, length);
    int32_t entry = -1;
    {
        const std::lock_guard lock(tableMutex);
        entry = FindPrepared(image, length);
    }
    if (entry < 0) {
        PrepareWavImage(image, length);
        const std::lock_guard lock(tableMutex);
        entry = FindPrepared(image, length);
    }
    if (device == 0 || entry < 0) {
        return;
    }
    const uint64_t plays = (request.load(std::memory_order_relaxed) >> 32) + 1;
    request.store(plays << 32 | static_cast<uint64_t>(entry + 1), std::memory_order_release);
}

void CloseSound() {
    AwaitQueued(nullptr, 0);
    queuedCount = 0;
    preparedCount = 0;
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
