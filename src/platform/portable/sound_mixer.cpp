// The sound service, the same on every system. An image is decoded once,
// ahead of its first play, to 16-bit frames of one or two channels at its
// own rate: what it holds in memory is bounded by the file, whatever its
// rate or length. The device's thread pulls frames through MixSound, which
// resamples the playing sound to the device rate as it goes, a buffer at a
// time; a play is one atomic store.
#include "platform/portable/sound_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <thread>

#include "config.h"
#include "platform/portable/sound_device.h"
#include "platform/portable/wav_decoder.h"
#include "platform/sound.h"

namespace {

constexpr int32_t kAlertFrames = kOutputRate / 1000 * kAlertToneMs;

struct PreparedSound {
    bool used = false;
    const uint8_t* image = nullptr;
    size_t length = 0;
    bool playable = false;
    DecodedSound sound;  // its frames are the alert tone's when not playable
};

bool deviceOpen = false;
bool closeAtExit = false;
int16_t alertTone[kAlertFrames];
PreparedSound prepared[kMaxPreparedImages];
int32_t nextReplaced = 0;  // the entry given up when all are taken

// Guards the table against the worker; MixSound reads it under the device
// lock instead, which every change also takes.
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

// Written by PlayWavImage, read by MixSound: the play count in the upper
// half, the entry to play plus one in the lower half.
std::atomic<uint64_t> request{0};

// The device thread's own state, also touched under the device lock. A
// position counts source frames in 32.32 fixed point.
uint64_t playingRequest = 0;
int32_t playingEntry = -1;
uint64_t playingPosition = 0;

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
        alertTone[i] = static_cast<int16_t>(9000.0 * rise * fall * decay * wave);
    }
}

// Source frames per device frame, in 32.32 fixed point.
uint64_t StepOf(const DecodedSound& sound, int32_t deviceRate) {
    return (uint64_t{static_cast<uint32_t>(sound.rate)} << 32) /
           static_cast<uint32_t>(std::max(deviceRate, 1));
}

// The sound at `position`, by cubic interpolation between the four source
// frames around it; false once the position is past its last frame. At a
// whole position (a sound at the device rate) this is the frame itself.
bool FrameAt(const DecodedSound& sound, uint64_t position, float frame[2]) {
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

void Release(PreparedSound& entry) {
    if (entry.sound.frames != alertTone) {
        ReleaseDecodedSound(entry.sound);
    }
    entry = PreparedSound{};
}

// Opens the device the first time it is needed since the last close, with
// nothing playing.
void OpenDevice() {
    if (deviceOpen) {
        return;
    }
    MakeAlertTone();
    request.store(0);
    playingRequest = 0;
    playingEntry = -1;
    playingPosition = 0;
    deviceOpen = OpenSoundDevice();
}

int32_t FindPrepared(const uint8_t* image, size_t length) {
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (prepared[i].used && prepared[i].image == image && prepared[i].length == length) {
            return i;
        }
    }
    return -1;
}

// Decodes without the table lock, then puts the result in the table.
bool PrepareNow(const uint8_t* image, size_t length) {
    OpenDevice();
    PreparedSound made;
    made.used = true;
    made.image = image;
    made.length = length;
    made.playable = image != nullptr && DecodeWavImage(image, length, made.sound);
    if (!made.playable) {
        made.sound.frames = alertTone;
        made.sound.frameCount = kAlertFrames;
        made.sound.channels = 1;
        made.sound.rate = kOutputRate;
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
    LockSoundDevice();
    if (playingEntry == entry) {
        playingEntry = -1;
    }
    Release(prepared[entry]);
    prepared[entry] = made;
    UnlockSoundDevice();
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

void CloseAtExit() {
    if (!closeAtExit) {
        closeAtExit = true;
        std::atexit(CloseSound);
    }
}

}  // namespace

bool MixSound(int16_t* out, size_t frames, int32_t deviceRate) {
    const uint64_t latest = request.load(std::memory_order_acquire);
    std::memset(out, 0, frames * 2 * sizeof(int16_t));

    int32_t fadingEntry = -1;
    uint64_t fadingPosition = 0;
    if (latest != playingRequest) {
        fadingEntry = playingEntry;
        fadingPosition = playingPosition;
        playingRequest = latest;
        playingEntry = static_cast<int32_t>(latest & 0xFFFFFFFF) - 1;
        playingPosition = 0;
    }

    bool sounded = false;
    float frame[2];
    if (playingEntry >= 0) {
        const DecodedSound& sound = prepared[playingEntry].sound;
        const uint64_t step = StepOf(sound, deviceRate);
        for (size_t i = 0; i < frames && FrameAt(sound, playingPosition, frame); ++i) {
            out[i * 2] = ToSample(frame[0]);
            out[i * 2 + 1] = ToSample(frame[1]);
            playingPosition += step;
            sounded = true;
        }
    }

    // The cut-off sound dies away under the new one's first frames.
    if (fadingEntry >= 0) {
        const DecodedSound& old = prepared[fadingEntry].sound;
        const uint64_t step = StepOf(old, deviceRate);
        const size_t fade = std::min(frames, static_cast<size_t>(kCutFadeFrames));
        for (size_t i = 0; i < fade && FrameAt(old, fadingPosition, frame); ++i) {
            const float gain = 1.0f - static_cast<float>(i) / kCutFadeFrames;
            out[i * 2] = ToSample(out[i * 2] + gain * frame[0]);
            out[i * 2 + 1] = ToSample(out[i * 2 + 1] + gain * frame[1]);
            fadingPosition += step;
            sounded = true;
        }
    }
    return sounded;
}

void PrepareWavImageAhead(const uint8_t* image, size_t length) {
    CloseAtExit();
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
    CloseAtExit();
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
    if (!deviceOpen || entry < 0) {
        return;
    }
    const uint64_t plays = (request.load(std::memory_order_relaxed) >> 32) + 1;
    request.store(plays << 32 | static_cast<uint64_t>(entry + 1), std::memory_order_release);
}

void CloseSound() {
    AwaitQueued(nullptr, 0);
    queuedCount = 0;
    preparedCount = 0;
    if (deviceOpen) {
        CloseSoundDevice();
        deviceOpen = false;
    }
    // Under the lock, and with nothing left to play: a device thread that
    // outlived its close must not mix what is freed here.
    LockSoundDevice();
    for (PreparedSound& entry : prepared) {
        Release(entry);
    }
    playingEntry = -1;
    playingRequest = request.load();
    UnlockSoundDevice();
    nextReplaced = 0;
}
