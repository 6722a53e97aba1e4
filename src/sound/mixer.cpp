// The sound service, the same on every system. An image is decoded once,
// ahead of its first play, to 16-bit frames of one or two channels at its
// own rate: what it holds in memory is bounded by the file, whatever its
// rate or length. The device's thread pulls frames through MixSound, which
// resamples the playing sound to the device rate as it goes, a buffer at a
// time; a play is one atomic store.
//
// Decoding happens on a worker of the service's own, never on the caller:
// a play of a sound not decoded yet only records that it is wanted, and the
// worker starts it once it is ready, unless a later play came first. No
// decoder can be stopped inside its call, so the worker is never waited for
// on the way out: it is detached and runs only while there is something to
// decode, what it shares with the caller is never torn down, and a decode
// begun before a close is thrown away when it ends.
#include "sound/mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>

#include "config.h"
#include "sound/cubic.h"
#include "sound/hum_voice.h"
#include "sound/output/sound_device.h"
#include "sound/sound.h"
#include "sound/wav/wav_decoder.h"

namespace {

constexpr int32_t kAlertFrames = kOutputRate / 1000 * kAlertToneMs;

struct PreparedSound {
    bool used = false;
    const uint8_t* image = nullptr;
    size_t length = 0;
    bool playable = false;
    DecodedSound sound;  // its frames are the alert tone's when not playable
};

struct Image {
    const uint8_t* image = nullptr;
    size_t length = 0;
    bool operator==(const Image&) const = default;
};

// What the worker shares with the callers. Made once and never destroyed:
// the worker may still be decoding while the process ends, and comes back
// to these afterwards.
struct Shared {
    // Guards everything below that the worker touches; MixSound reads the
    // table under the device lock instead, which every change also takes.
    std::mutex table;
    std::condition_variable workDone;
    // Held while the device is asked to open or close, apart from the
    // table, so that a play never waits for that.
    std::mutex device;
};
Shared& shared = *new Shared;

bool deviceOpen = false;  // under shared.device
bool closeAtExit = false;
int16_t alertTone[kAlertFrames];
PreparedSound prepared[kMaxPreparedImages];
int32_t nextReplaced = 0;  // the entry given up when all are taken

// Images to prepare, the next first; the worker takes them one at a time.
Image queued[kMaxPreparedImages];
int32_t queuedCount = 0;
bool workerRunning = false;
bool workerBusy = false;  // decoding `decoding`, taken off the queue
Image decoding;
// The latest play of an image that was not ready: played once it is, unless
// another play replaces it first.
Image wanted;
bool playWanted = false;
// Counts the closes: a decode begun before one is dropped when it ends.
std::atomic<uint64_t> closes{0};

// Written by PlayWavImage and the worker, read by MixSound: the play count
// in the upper half, the entry to play plus one in the lower half.
std::atomic<uint64_t> request{0};

// The device thread's own state, also touched under the device lock. A
// position counts source frames in 32.32 fixed point.
uint64_t playingRequest = 0;
int32_t playingEntry = -1;
uint64_t playingPosition = 0;
uint64_t playingMixed = 0;  // device frames mixed since it started, silence after it included
// What played before the last new sound took over: a device that takes back
// all of the new sound's frames undoes the change, so that the next mix
// takes the new sound up again and the old one fades from where it was.
struct Playing {
    bool kept = false;
    uint64_t request = 0;
    int32_t entry = -1;
    uint64_t position = 0;
    uint64_t mixed = 0;
};
Playing beforeLastPlay;

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
        frame[c] = Cubic(p, t);
    }
    return true;
}

int16_t ToSample(float value) {
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0f, 32767.0f)));
}

// Under the device lock: the sound prepared from `image`, when it plays.
const DecodedSound* PlayableSound(const uint8_t* image) {
    for (const PreparedSound& entry : prepared) {
        if (image != nullptr && entry.used && entry.playable && entry.image == image) {
            return &entry.sound;
        }
    }
    return nullptr;
}

void Release(PreparedSound& entry) {
    if (entry.sound.frames != alertTone) {
        ReleaseDecodedSound(entry.sound);
    }
    entry = PreparedSound{};
}

// Before an output opens after a time with none: plays made meanwhile are
// not heard late, and nothing fades in from before.
void ResumeMixing() {
    const std::lock_guard lock(shared.table);
    const SoundDeviceLock device;
    playingRequest = request.load();
    playingEntry = -1;
    playingPosition = 0;
    playingMixed = 0;
    beforeLastPlay.kept = false;
}

// Has the device opened the first time it is needed since the last close;
// not once a close has come since the decode began. Returns at once: the
// device opens, and opens again after a server is lost, on its own thread.
void OpenDevice(uint64_t closesAtStart) {
    const std::lock_guard lock(shared.device);
    if (deviceOpen || closes.load() != closesAtStart) {
        return;
    }
    MakeAlertTone();
    // Plays made before the device is asked to open are not heard later.
    ResumeMixing();
    deviceOpen = OpenSoundDevice({MixSound, UnmixSound, ResumeMixing});
}

// Under the table lock.
int32_t FindPrepared(const Image& image) {
    for (int32_t i = 0; i < kMaxPreparedImages; ++i) {
        if (prepared[i].used && prepared[i].image == image.image &&
            prepared[i].length == image.length) {
            return i;
        }
    }
    return -1;
}

// Under the table lock.
void StartPlaying(int32_t entry) {
    const uint64_t plays = (request.load(std::memory_order_relaxed) >> 32) + 1;
    request.store(plays << 32 | static_cast<uint64_t>(entry + 1), std::memory_order_release);
    SkipSoundDeviceQueue();
}

PreparedSound Decode(const Image& image) {
    PreparedSound made;
    made.used = true;
    made.image = image.image;
    made.length = image.length;
    made.playable = image.image != nullptr && DecodeWavImage(image.image, image.length, made.sound);
    if (!made.playable) {
        made.sound.frames = alertTone;
        made.sound.frameCount = kAlertFrames;
        made.sound.channels = 1;
        made.sound.rate = kOutputRate;
    }
    return made;
}

// Under the table lock: puts what was made in the table, in place of what
// was kept of the same image, and starts it if it is the play wanted.
void Store(PreparedSound& made) {
    int32_t entry = -1;
    for (int32_t i = 0; i < kMaxPreparedImages && entry < 0; ++i) {
        if (prepared[i].used && prepared[i].image == made.image) {
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
    {
        const SoundDeviceLock device;
        if (playingEntry == entry) {
            playingEntry = -1;
        }
        if (beforeLastPlay.entry == entry) {
            beforeLastPlay.kept = false;
        }
        Release(prepared[entry]);
        prepared[entry] = made;
    }
    if (playWanted && wanted == Image{made.image, made.length}) {
        playWanted = false;
        StartPlaying(entry);
    }
}

// Takes the next image off the queue and prepares it; the lock is let go
// while it decodes.
void PrepareNext(std::unique_lock<std::mutex>& lock) {
    const Image next = queued[0];
    std::copy(queued + 1, queued + queuedCount, queued);
    --queuedCount;
    workerBusy = true;
    decoding = next;
    const uint64_t closesAtStart = closes.load();
    lock.unlock();
    OpenDevice(closesAtStart);
    PreparedSound made = Decode(next);
    lock.lock();
    workerBusy = false;
    if (closes.load() == closesAtStart) {
        Store(made);
    } else {
        Release(made);
    }
    shared.workDone.notify_all();
}

// Runs while there is something to prepare, then ends: no thread is left
// waiting once start-up's sounds are ready.
void Work() {
    std::unique_lock lock(shared.table);
    while (queuedCount > 0) {
        PrepareNext(lock);
    }
    workerRunning = false;
    lock.unlock();
    EndDecodingThread();
}

// Under the table lock: hands the image to the worker, first in line or
// last, starting a worker where none runs. Where no thread can be started,
// the caller prepares it itself.
void Enqueue(const Image& image, bool first, std::unique_lock<std::mutex>& lock) {
    const int32_t at = first ? 0 : queuedCount;
    std::copy_backward(queued + at, queued + queuedCount, queued + queuedCount + 1);
    queued[at] = image;
    ++queuedCount;
    if (workerRunning) {
        return;
    }
    try {
        std::thread(Work).detach();
        workerRunning = true;
    } catch (const std::system_error&) {
        while (queuedCount > 0) {
            PrepareNext(lock);
        }
    }
}

int32_t QueuedAt(const Image& image) {
    for (int32_t i = 0; i < queuedCount; ++i) {
        if (queued[i] == image) {
            return i;
        }
    }
    return -1;
}

// Under the table lock: waits until the worker has prepared all it was given.
void AwaitWorker(std::unique_lock<std::mutex>& lock) {
    shared.workDone.wait(lock, [] { return queuedCount == 0 && !workerBusy; });
}

void CloseAtExit() {
    if (!closeAtExit) {
        closeAtExit = true;
        std::atexit(CloseSound);
    }
}

// Under the table lock: queues the image last, once there is room.
void HandOver(const Image& image, std::unique_lock<std::mutex>& lock) {
    CloseAtExit();
    if (queuedCount == kMaxPreparedImages) {
        AwaitWorker(lock);
    }
    Enqueue(image, false, lock);
}

}  // namespace

bool MixSound(int16_t* out, size_t frames, int32_t deviceRate) {
    const uint64_t latest = request.load(std::memory_order_acquire);
    std::memset(out, 0, frames * 2 * sizeof(int16_t));

    if (latest != playingRequest) {
        beforeLastPlay = {true, playingRequest, playingEntry, playingPosition, playingMixed};
        playingRequest = latest;
        playingEntry = static_cast<int32_t>(latest & 0xFFFFFFFF) - 1;
        playingPosition = 0;
        playingMixed = 0;
    }
    const uint64_t mixedBefore = playingMixed;
    playingMixed += frames;

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

    // The cut-off sound dies away under the new one's first kCutFadeFrames
    // frames, however many buffers they take: where it is in its fade
    // follows from the frames of the new one mixed so far, frames taken back
    // included.
    if (beforeLastPlay.kept && beforeLastPlay.entry >= 0 && mixedBefore < kCutFadeFrames) {
        const DecodedSound& old = prepared[beforeLastPlay.entry].sound;
        const uint64_t step = StepOf(old, deviceRate);
        uint64_t position = beforeLastPlay.position + mixedBefore * step;
        const auto fade =
            static_cast<size_t>(std::min<uint64_t>(frames, kCutFadeFrames - mixedBefore));
        for (size_t i = 0; i < fade && FrameAt(old, position, frame); ++i) {
            const float gain = 1.0f - static_cast<float>(mixedBefore + i) / kCutFadeFrames;
            out[i * 2] = ToSample(out[i * 2] + gain * frame[0]);
            out[i * 2 + 1] = ToSample(out[i * 2 + 1] + gain * frame[1]);
            position += step;
            sounded = true;
        }
    }
    // The hum goes on beneath, whatever was cut off.
    return MixHum(out, frames, deviceRate, PlayableSound) || sounded;
}

// Each sounded frame moved the position on by one step, so a position
// `frames` back is exact, wherever the sound had ended.
void UnmixSound(size_t frames, int32_t deviceRate) {
    UnmixHum(frames, deviceRate, PlayableSound);
    if (frames > 0 && frames >= playingMixed && beforeLastPlay.kept) {
        frames -= playingMixed;
        playingRequest = beforeLastPlay.request;
        playingEntry = beforeLastPlay.entry;
        playingPosition = beforeLastPlay.position;
        playingMixed = beforeLastPlay.mixed;
        beforeLastPlay.kept = false;
    }
    const uint64_t back = std::min<uint64_t>(frames, playingMixed);
    playingMixed -= back;
    if (playingEntry >= 0) {
        const uint64_t step = StepOf(prepared[playingEntry].sound, deviceRate);
        playingPosition = std::min(playingPosition, playingMixed * step);
    }
}

void PrepareWavImageAhead(const uint8_t* image, size_t length) {
    std::unique_lock lock(shared.table);
    HandOver({image, length}, lock);
}

bool PrepareWavImage(const uint8_t* image, size_t length) {
    std::unique_lock lock(shared.table);
    HandOver({image, length}, lock);
    AwaitWorker(lock);
    const int32_t entry = FindPrepared({image, length});
    return entry >= 0 && prepared[entry].playable;
}

// A sound not ready yet is moved to the head of the worker's queue (or put
// there) and started once it is ready. Any play replaces it as the one
// wanted: a sound overtaken so is never heard late, and the sound playing
// meanwhile plays on until the wanted one starts.
void PlayWavImage(const uint8_t* image, size_t length) {
    CloseAtExit();
    const Image played{image, length};
    std::unique_lock lock(shared.table);
    const int32_t entry = FindPrepared(played);
    const int32_t at = QueuedAt(played);
    if (entry >= 0 && at < 0) {
        playWanted = false;
        StartPlaying(entry);
        return;
    }
    wanted = played;
    playWanted = true;
    if (at > 0) {
        std::copy_backward(queued, queued + at, queued + at + 1);
        queued[0] = played;
    } else if (at < 0 && !(workerBusy && decoding == played)) {
        Enqueue(played, true, lock);
    }
}

void CloseSound() {
    {
        const std::lock_guard lock(shared.table);
        closes.fetch_add(1);
        queuedCount = 0;
        playWanted = false;
    }
    {
        const std::lock_guard lock(shared.device);
        if (deviceOpen) {
            CloseSoundDevice();
            deviceOpen = false;
        }
    }
    // Under the lock, and with nothing left to play: a device thread that
    // outlived its close must not mix what is freed here.
    const std::lock_guard lock(shared.table);
    {
        const SoundDeviceLock device;
        for (PreparedSound& entry : prepared) {
            Release(entry);
        }
        playingEntry = -1;
        playingRequest = request.load();
        beforeLastPlay.kept = false;
    }
    nextReplaced = 0;
}
