// tiny_hid driven from the keyboard: a pretend remote for trying the program
// without one.
//
// Opening the remote takes over the controlling terminal (raw, no echo) and
// prints one line of key help. From then on a reporter thread sends a report
// every 10 ms, as a real remote does, shaped by the keys pressed (see
// keyboard_remote.h and gestures.h). Reads follow the real library's policy:
// the newest report not yet delivered, or a wait for the next one.
//
// Once the program's main loop starts reading (the first read on the thread
// that opened the remote; start-up checks read on a thread of their own,
// while the banner may still be on its way), a status line below the
// program's output shows the LEDs and rumble as the program last set them.
// Without a controlling terminal the process ends with status 2.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "hid/virtual/keyboard_remote.h"
#include "platform/terminal.h"

namespace {

// Ctrl+\ quits as a terminal would; Windows has no such signal, and its
// console gives the key no meaning.
#ifdef SIGQUIT
constexpr int kQuitSignal = SIGQUIT;
#else
constexpr int kQuitSignal = 0;
#endif

constexpr int32_t kHandle = 0;
// A waiting read looks at its cancel flag at least this often.
constexpr auto kWaitSlice = std::chrono::milliseconds(10);
// After a stall this long (a suspended process), the reporter starts afresh
// instead of sending the missed reports in a burst.
constexpr auto kResyncAfter = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

std::mutex mutex;  // guards the newest report and the open state
std::condition_variable reportArrived;
uint8_t newest[kButtonsAccelLength];
int newestLength = 0;
uint64_t newestNumber = 0;  // 0: none sent yet
uint64_t deliveredNumber = 0;
bool open = false;
bool terminalTaken = false;  // once given back, the terminal is the shell's

std::atomic<int32_t> cancel{0};
std::atomic<uint8_t> leds{0};
std::atomic<bool> rumble{false};
// Until the program asks for buttons and accelerometer, a remote reports only
// button changes.
std::atomic<uint8_t> reportMode{kReportButtons};
std::atomic<bool> statusWanted{false};
std::atomic<bool> stopReporter{false};

Clock::time_point openedAt;
std::thread::id opener;
std::thread reporter;

static_assert(std::atomic<int32_t>::is_always_lock_free, "cancel is set from signal handlers");

int64_t MsSinceOpen(Clock::time_point now) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - openedAt).count();
}

void Publish(const uint8_t* report, int length) {
    {
        std::lock_guard lock(mutex);
        std::memcpy(newest, report, static_cast<size_t>(length));
        newestLength = length;
        ++newestNumber;
    }
    reportArrived.notify_all();
}

// Waits up to timeoutMs for keys and applies them to the remote. Ctrl+C and
// Ctrl+Backslash end the process as the terminal would have outside raw mode.
// Returns false once the terminal is gone.
bool TakeKeys(KeyboardRemote& remote, int32_t timeoutMs) {
    char keys[64];
    const int32_t got = ReadKeys(keys, sizeof keys, timeoutMs);
    if (got <= 0) {
        return got == 0;
    }
    const KeyAction end =
        ApplyKeys(remote, reinterpret_cast<const uint8_t*>(keys), got, MsSinceOpen(Clock::now()));
    if (end == KeyAction::Interrupt) {
        std::raise(SIGINT);
    } else if (end == KeyAction::Quit && kQuitSignal != 0) {
        std::raise(kQuitSignal);
    }
    return true;
}

// Keeps the status line in step with what the program last set.
void UpdateStatus(int& shown) {
    if (!statusWanted.load()) {
        return;
    }
    const uint8_t ledsNow = leds.load();
    const bool rumbleNow = rumble.load();
    const int now = ledsNow | (rumbleNow ? 1 : 0);  // the LEDs leave bit 0 free
    if (now != shown) {
        DrawStatus(StatusLine(ledsNow, rumbleNow));
        shown = now;
    }
}

void RunReporter() {
    KeyboardRemote remote;
    uint32_t tick = 0;
    uint8_t lastButtons = 0;
    int shownStatus = -1;
    Clock::time_point due = openedAt;
    bool keysGone = false;
    while (!stopReporter.load()) {
        Clock::time_point now = Clock::now();
        if (now >= due) {
            const int64_t ms = MsSinceOpen(now);
            uint8_t report[kButtonsAccelLength];
            if (reportMode.load() == kReportButtonsAccel) {
                Publish(report, BuildButtonsAccelReport(remote, ms, tick, report));
            } else if (ButtonsAt(remote, ms) != lastButtons) {
                Publish(report, BuildButtonsReport(remote, ms, report));
            }
            lastButtons = ButtonsAt(remote, ms);
            ++tick;
            due += std::chrono::milliseconds(kReportPeriodMs);
            if (now - due > kResyncAfter) {
                due = now;
            }
        }
        UpdateStatus(shownStatus);
        // Whole milliseconds, rounded up: a report is never sent early.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(due - Clock::now(), Clock::duration::zero()));
        // A terminal that hung up gives no more keys: keep the reports going,
        // a signal will end the process.
        if (keysGone) {
            std::this_thread::sleep_for(wait);
        } else {
            keysGone = !TakeKeys(remote, static_cast<int32_t>(wait.count()));
        }
    }
}

void StopReporter() {
    stopReporter.store(true);
    if (reporter.joinable() && reporter.get_id() != std::this_thread::get_id()) {
        reporter.join();
    }
}

void CleanUpAtExit() {
    StopReporter();
    RestoreTerminal();
}

}  // namespace

// The keyboard's remote is there or not: it never refuses.
extern "C" int32_t TryOpenHidHandle(int32_t vendorId, int32_t productId) {
    return OpenHidHandle(vendorId, productId);
}

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    // The only device this library plays: a Wii Remote.
    if (vendorId != kRemoteVendorId || productId != kRemoteProductId) {
        return -1;
    }
    // One remote per process: once closed, the terminal is the shell's again.
    if (terminalTaken) {
        return -1;
    }
    if (!OpenTerminal()) {
        std::fprintf(stderr,
                     "glowbrand-virtual: no controlling terminal to read the keys from; "
                     "start it in a terminal\n");
        std::exit(2);
    }
    terminalTaken = true;
    std::atexit(CleanUpAtExit);
    std::lock_guard lock(mutex);
    WriteTerminal(std::string(kKeyHelp) + "\n");
    opener = std::this_thread::get_id();
    openedAt = Clock::now();
    open = true;
    reporter = std::thread(RunReporter);
    return kHandle;
}

extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    // The program's main loop reads on the thread that opened the remote, and
    // only after the banner is printed: from now on the status line is safe.
    if (std::this_thread::get_id() == opener) {
        statusWanted.store(true);
    }
    std::unique_lock lock(mutex);
    if (!open || handle != kHandle || buffer == nullptr) {
        return -1;
    }
    while (cancel.load() == 0) {
        if (newestNumber > deliveredNumber) {
            deliveredNumber = newestNumber;
            std::memcpy(buffer, newest, static_cast<size_t>(newestLength));
            if (count != nullptr) {
                *count = static_cast<uint32_t>(newestLength);
            }
            return newestLength;
        }
        reportArrived.wait_for(lock, kWaitSlice);
        if (!open) {
            return -1;
        }
    }
    return 0;
}

extern "C" int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count) {
    std::lock_guard lock(mutex);
    if (!open || handle != kHandle || buffer == nullptr) {
        return -1;
    }
    const int length = OutputReportLength(buffer[0]);
    if (length == 0) {
        return -1;
    }
    switch (buffer[0]) {
        case kReportLeds:
            leds.store(buffer[1] & kLedsAll);
            break;
        case kReportRumbleOnly:
        case kReportIrClock:
            rumble.store((buffer[1] & kRumbleBit) != 0);
            break;
        case kReportMode:  // flags, then the report the remote should send
            reportMode.store(buffer[2]);
            break;
        default:
            break;
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    return length;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    {
        std::lock_guard lock(mutex);
        if (!open || handle != kHandle) {
            return -1;
        }
        open = false;
    }
    reportArrived.notify_all();
    StopReporter();
    RestoreTerminal();
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t handle, int32_t on) {
    if (handle != kHandle) {
        return -1;
    }
    cancel.store(on);
    return 0;
}
