// The device over the system's table of outputs: one place that knows which
// output opened, so that adding or reordering an output is one row, and one
// place that looks for an output again when the one playing is lost.
//
// Only the keeper thread opens and closes outputs, so two opens never meet
// in an output's state, with one exception: an open that has not answered
// within kSoundOpenLimitMs (SDL's drivers have no time limit of their own)
// is given up on and left to its own thread, which closes what it opens
// when it returns; until then no row of that output is tried, and what it
// pulls meanwhile is silence, never the mixer's frames. The keeper holds no
// lock of the device's across an open or a close: a play, a decode and the
// end never wait for a server.
#include "sound/output/sound_device.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "config.h"

namespace {

// Set once an output opened and cleared before it closes; the outputs are
// rows of a table that lives as long as the program, so a reader that
// catches the old one still speaks to an output that handles being closed.
std::atomic<const SoundOutput*> opened{nullptr};
// The output opened or being opened last, kept after it closes: what the
// pull reads is changed under its lock.
std::atomic<const SoundOutput*> lastOpened{nullptr};
// Held by every SoundDeviceLock around the output's lock. The keeper takes
// it once after it names a new output to lock and before that output opens,
// so that a change begun under the old output's lock (or under none, before
// any opened) has ended before the new output's thread first pulls.
std::mutex changing;

// What the keeper shares with the callers. Made once and never destroyed:
// a keeper stuck in a server's library may come back to it at any time, even
// as the process ends.
struct Keeper {
    std::mutex mutex;
    std::condition_variable changed;
    bool wanted = false;   // an output is to be kept open
    bool running = false;  // the keeper thread is alive
    uint64_t closes = 0;   // closes asked for
    uint64_t closed = 0;   // closes the keeper has carried out
    MixerPull pull;
    // The rows whose open was given up on, until that open returns.
    std::vector<const SoundOutput*> straggling;
};
Keeper& keeper = *new Keeper;

// One open on a thread of its own, under the keeper's mutex.
struct Attempt {
    bool done = false;
    bool opened = false;
    bool givenUp = false;
};

bool Silence(int16_t* out, size_t frames, int32_t) {
    std::memset(out, 0, frames * 2 * sizeof(int16_t));
    return false;
}

void NothingToTakeBack(size_t, int32_t) {}

// Each row pulls through a gate of its own, which passes the mixer's pull
// only while the keeper admits that row: from before its open until it is
// given up on or closed. Rows past the last gate are never tried.
constexpr size_t kGatedRows = 8;
std::array<std::atomic<bool>, kGatedRows> admitted{};
std::atomic<bool (*)(int16_t*, size_t, int32_t)> mixerMix{nullptr};
std::atomic<void (*)(size_t, int32_t)> mixerTakeBack{nullptr};

template <size_t Row>
bool GatedMix(int16_t* out, size_t frames, int32_t rate) {
    const auto mix = mixerMix.load();
    return admitted[Row] && mix != nullptr ? mix(out, frames, rate) : Silence(out, frames, rate);
}

template <size_t Row>
void GatedTakeBack(size_t frames, int32_t rate) {
    const auto takeBack = mixerTakeBack.load();
    if (admitted[Row] && takeBack != nullptr) {
        takeBack(frames, rate);
    }
}

template <size_t... Row>
constexpr std::array<MixerPull, kGatedRows> MakeGates(std::index_sequence<Row...>) {
    return {MixerPull{GatedMix<Row>, GatedTakeBack<Row>, nullptr}...};
}
constexpr std::array<MixerPull, kGatedRows> kGates =
    MakeGates(std::make_index_sequence<kGatedRows>{});

size_t RowOf(const SoundOutput& row) {
    return static_cast<size_t>(&row - kSoundOutputs);
}

// Stops the row's gate; once its lock has been let go, which its thread
// holds around each pull, no pull of its passes the mixer's frames.
void Shut(const SoundOutput& row) {
    admitted[RowOf(row)] = false;
    row.lock();
    row.unlock();
}

// The table's last row is the stand-in that plays nowhere: the keeper plays
// through no output rather than through it, and keeps looking.
size_t LookedAt() {
    return std::min(kSoundOutputCount > 1 ? kSoundOutputCount - 1 : kSoundOutputCount, kGatedRows);
}

// On the attempt's thread: opens the row, and where the keeper gave up
// waiting, closes it again at once and lets its rows be tried again.
void Open(const SoundOutput& row, MixerPull pull, const std::shared_ptr<Attempt>& attempt) {
    const bool opened = row.open(pull);
    std::unique_lock lock(keeper.mutex);
    if (!attempt->givenUp) {
        attempt->done = true;
        attempt->opened = opened;
        keeper.changed.notify_all();
        return;
    }
    lock.unlock();
    if (opened) {
        row.close();
    }
    lock.lock();
    std::erase(keeper.straggling, &row);
}

// On the keeper: opens the row within kSoundOpenLimitMs or gives up on it,
// sooner where the device is to close. Where no thread can be started, the
// keeper opens it itself.
bool OpenWithinLimit(const SoundOutput& row) {
    const MixerPull& pull = kGates[RowOf(row)];
    admitted[RowOf(row)] = true;
    auto attempt = std::make_shared<Attempt>();
    try {
        std::thread(Open, std::cref(row), pull, attempt).detach();
    } catch (const std::system_error&) {
        return row.open(pull);
    }
    std::unique_lock lock(keeper.mutex);
    keeper.changed.wait_for(lock, std::chrono::milliseconds(kSoundOpenLimitMs), [&attempt] {
        return attempt->done || !keeper.wanted || keeper.closed != keeper.closes;
    });
    if (!attempt->done) {
        attempt->givenUp = true;
        keeper.straggling.push_back(&row);
    }
    lock.unlock();
    if (!attempt->opened) {
        Shut(row);
    }
    return attempt->opened;
}

// Rows with one close function share one output's state (SDL's three).
bool Straggling(const SoundOutput& row) {
    const std::lock_guard lock(keeper.mutex);
    return std::any_of(keeper.straggling.begin(), keeper.straggling.end(),
                       [&row](const SoundOutput* other) { return other->close == row.close; });
}

// On the keeper: the first row that opens, or none. `late`: a time with no
// output came before, and the mixer starts afresh before the row's thread
// first pulls; plays made while the device first opens are heard.
const SoundOutput* OpenFirst(const MixerPull& pull, bool late) {
    for (size_t i = 0; i < LookedAt(); ++i) {
        const SoundOutput& row = kSoundOutputs[i];
        if (Straggling(row)) {
            continue;
        }
        // Changes to what the pull reads take this row's lock from now on.
        lastOpened = &row;
        { const std::lock_guard barrier(changing); }
        if (late && pull.resume != nullptr) {
            pull.resume();
        }
        if (OpenWithinLimit(row)) {
            opened = &row;
            return &row;
        }
    }
    return nullptr;
}

void Close(const SoundOutput*& output) {
    if (output != nullptr) {
        opened = nullptr;
        Shut(*output);
        output->close();
        output = nullptr;
    }
}

// Opens an output and keeps one open while one is wanted: a lost one is
// closed, and where none is open the table is tried again after a pause.
void Keep() {
    const SoundOutput* output = nullptr;
    bool late = false;
    std::unique_lock lock(keeper.mutex);
    while (true) {
        if (keeper.closed != keeper.closes || !keeper.wanted) {
            const uint64_t closes = keeper.closes;
            lock.unlock();
            Close(output);
            lock.lock();
            keeper.closed = closes;
            keeper.changed.notify_all();
        }
        if (!keeper.wanted) {
            break;
        }
        const MixerPull pull = keeper.pull;
        lock.unlock();
        if (output != nullptr && output->lost != nullptr && output->lost()) {
            Close(output);
            late = true;
        }
        if (output == nullptr) {
            output = OpenFirst(pull, late);
            late = true;
        }
        lock.lock();
        keeper.changed.wait_for(lock, std::chrono::milliseconds(kSoundRetryMs),
                                [] { return !keeper.wanted || keeper.closed != keeper.closes; });
    }
    keeper.running = false;
    keeper.changed.notify_all();
}

}  // namespace

bool OpenSoundDevice(const MixerPull& pull) {
    const std::lock_guard lock(keeper.mutex);
    keeper.pull = pull;
    mixerMix = pull.mix;
    mixerTakeBack = pull.takeBack;
    keeper.wanted = true;
    if (keeper.running) {
        return true;
    }
    try {
        std::thread(Keep).detach();
    } catch (const std::system_error&) {
        keeper.wanted = false;
        return false;
    }
    keeper.running = true;
    return true;
}

void CloseSoundDevice() {
    std::unique_lock lock(keeper.mutex);
    if (!keeper.running) {
        return;
    }
    keeper.wanted = false;
    const uint64_t close = ++keeper.closes;
    keeper.changed.notify_all();
    keeper.changed.wait_for(lock, std::chrono::milliseconds(kSoundCloseWaitMs),
                            [close] { return !keeper.running || keeper.closed >= close; });
}

SoundDeviceLock::SoundDeviceLock() {
    changing.lock();
    held_ = lastOpened.load();
    if (held_ != nullptr) {
        held_->lock();
    }
}

SoundDeviceLock::~SoundDeviceLock() {
    if (held_ != nullptr) {
        held_->unlock();
    }
    changing.unlock();
}

void SkipSoundDeviceQueue() {
    const SoundOutput* output = opened.load();
    if (output != nullptr && output->skipQueue != nullptr) {
        output->skipQueue();
    }
}

bool DescribeSoundDevice(SoundDeviceFacts& facts) {
    const MixerPull silence{Silence, NothingToTakeBack, nullptr};
    for (size_t i = 0; i < kSoundOutputCount; ++i) {
        if (kSoundOutputs[i].describe(silence, facts)) {
            return true;
        }
    }
    return false;
}

bool IsBluetoothOutput(const std::string& name) {
    return name.rfind("bluez_", 0) == 0;
}
