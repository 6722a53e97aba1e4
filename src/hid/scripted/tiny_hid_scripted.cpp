// tiny_hid played from a script: a pretend remote for tests and replays.
//
// GLOWBRAND_SCRIPT names the script (see script.h); it is read when the
// program opens the remote. GLOWBRAND_HIDLOG, if set, names a file that gets
// one line per call, timed in ms since the open:
//   0.000 open 057e 0306 <handle>        (handle -1 when absent, or when the
//                                         identifiers are not the script's:
//                                         057e and its `product`, 0306 unless
//                                         it names another)
//   <t> write <bytes sent, hex>          (<t> write refused <id> if unsent)
//   <t> read <bytes delivered> @<script time>
//   <t> read none                        (a cancelled read)
//   <t> read error                       (a read on a handle not open)
//   <t> close <handle>
// and, around a `gone` period of the script, as the real library behaves
// when a remote vanishes:
//   <t> read gone                        (a read finds the remote gone and
//                                         waits for it from then on)
//   <t> write gone <bytes>               (a write while gone: not sent)
//   <t> reopen 057e 0306 <handle>        (a look for it, every 500 ms while
//                                         a read waits; handle -1: not back)
// A successful reopen ends the read with TINY_HID_REOPENED; what the program
// then sends to put the remote back follows as ordinary write lines.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config.h"
#include "hid/remote_protocol.h"
#include "hid/scripted/script.h"
#include "hid/tiny_hid.h"

namespace {

constexpr int32_t kHandle = 0;
// A waiting read looks at its cancel flag at least this often.
constexpr int64_t kWaitSliceNs = 2'000'000;

std::mutex mutex;  // guards everything below but `cancel`
Script script;
bool open = false;
size_t nextReport = 0;  // first report not yet delivered or dropped
std::chrono::steady_clock::time_point openedAt;
FILE* logFile = nullptr;
std::atomic<int32_t> cancel{0};
int32_t openedVendorId = 0;
int32_t openedProductId = 0;

// A remote that vanishes (the script's gaps), as the real library sees it:
// gone from the gap's start, noticed by the next read, which then looks for
// it every kReopenIntervalMs, as the real library does, and finds it at the
// first look after the gap.
size_t nextGap = 0;       // first gap the remote has not come back from
bool lost = false;        // a read has noticed the remote gone
double nextReopenMs = 0;  // when a waiting read looks for it next
// When the program set the report mode, to end an accessory's silence.
std::vector<double> modeWrittenMs;
// Due but not delivered yet, as the real library holds them: the status
// reports and answers in the order they came (never dropped for newer data),
// and the newest of the other reports; indexes into script.reports.
constexpr size_t kNone = SIZE_MAX;
std::deque<size_t> heldAnswers;
size_t heldNewest = kNone;

double MsSinceOpen() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - openedAt)
        .count();
}

void Log(const std::string& line) {
    if (logFile == nullptr) {
        return;
    }
    std::fprintf(logFile, "%.3f %s\n", MsSinceOpen(), line.c_str());
    std::fflush(logFile);
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

[[noreturn]] void Fail(const std::string& reason) {
    std::fprintf(stderr, "glowbrand-scripted: %s\n", reason.c_str());
    std::exit(2);
}

void LoadScript() {
    const char* path = std::getenv("GLOWBRAND_SCRIPT");
    if (path == nullptr || path[0] == '\0') {
        Fail("GLOWBRAND_SCRIPT must name the script of the remote to play");
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        Fail(std::string("cannot read script ") + path + ": " + std::strerror(errno));
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        Fail(std::string("cannot read script ") + path);
    }
    const std::string error = ParseScript(text, script);
    if (!error.empty()) {
        Fail(std::string(path) + ": " + error);
    }
}

// True from the start of a gap until a read has found the remote again.
bool Gone(double now) {
    return nextGap < script.gaps.size() && static_cast<double>(script.gaps[nextGap].fromMs) <= now;
}

// One look for the remote by a waiting read. Returns true when it is back;
// reports timed while nobody listened are gone with the remote.
bool TryReopen(double now) {
    const bool back = static_cast<double>(script.gaps[nextGap].untilMs) <= now;
    char line[64];
    std::snprintf(line, sizeof line, "reopen %04x %04x %d",
                  static_cast<unsigned>(openedVendorId & 0xFFFF),
                  static_cast<unsigned>(openedProductId & 0xFFFF), back ? kHandle : -1);
    Log(line);
    nextReopenMs = now + kReopenIntervalMs;
    if (!back) {
        return false;
    }
    lost = false;
    ++nextGap;
    while (nextReport < script.reports.size() &&
           static_cast<double>(script.reports[nextReport].timeMs) <= now) {
        ++nextReport;
    }
    return true;
}

// A real remote sends no data reports after an accessory came or went until
// it is given a report mode again.
bool Silenced(const ScriptReport& report) {
    if (report.bytes[0] < kFirstDataReport || report.bytes[0] > kLastDataReport) {
        return false;
    }
    const auto after =
        std::upper_bound(script.accessoryMs.begin(), script.accessoryMs.end(), report.timeMs - 1);
    if (after == script.accessoryMs.begin()) {
        return false;
    }
    const double event = static_cast<double>(*std::prev(after));
    const double sent = static_cast<double>(report.timeMs);
    return std::none_of(modeWrittenMs.begin(), modeWrittenMs.end(),
                        [&](double written) { return written >= event && written <= sent; });
}

bool IsAnswer(const ScriptReport& report) {
    const uint8_t id = report.bytes[0];
    return id == kReportStatus || id == kReportMemoryData || id == kReportAcknowledge;
}

// Delivers what the real library would of the reports whose time has come,
// and returns its length, or returns 0 when none has: the newest data (older
// data is dropped), and a status report or an answer held back by a later
// read, before newer data. Returns 0 when nothing is due.
int32_t DeliverDue(double now, uint8_t* buffer, uint32_t* count) {
    const bool answersWaited = !heldAnswers.empty();
    size_t due = nextReport;
    while (due < script.reports.size() && static_cast<double>(script.reports[due].timeMs) <= now) {
        if (!Silenced(script.reports[due]) && IsAnswer(script.reports[due])) {
            if (heldAnswers.size() == static_cast<size_t>(kHidHeldAnswers)) {
                heldAnswers.pop_front();
            }
            heldAnswers.push_back(due);
        } else if (!Silenced(script.reports[due])) {
            heldNewest = due;
        }
        ++due;
    }
    nextReport = due;
    size_t deliver = kNone;
    if (!heldAnswers.empty() && (answersWaited || heldNewest == kNone)) {
        deliver = heldAnswers.front();
        heldAnswers.pop_front();
    } else {
        deliver = std::exchange(heldNewest, kNone);
    }
    if (deliver == kNone) {
        return 0;
    }
    const ScriptReport& report = script.reports[deliver];
    std::memcpy(buffer, report.bytes.data(), report.bytes.size());
    if (count != nullptr) {
        *count = static_cast<uint32_t>(report.bytes.size());
    }
    Log("read " + Hex(report.bytes.data(), report.bytes.size()) + " @" +
        std::to_string(report.timeMs));
    return static_cast<int32_t>(report.bytes.size());
}

void SleepNs(int64_t ns) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

}  // namespace

// A scripted remote is there or not: it never refuses.
extern "C" int32_t TryOpenHidHandle(int32_t vendorId, int32_t productId) {
    return OpenHidHandle(vendorId, productId);
}

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    std::lock_guard lock(mutex);
    LoadScript();
    // A program that looks for another remote after a failed open goes on
    // in the same log.
    const char* logPath = std::getenv("GLOWBRAND_HIDLOG");
    if (logFile == nullptr && logPath != nullptr && logPath[0] != '\0') {
        logFile = std::fopen(logPath, "wb");
        if (logFile == nullptr) {
            Fail(std::string("cannot write log ") + logPath + ": " + std::strerror(errno));
        }
    }
    openedAt = std::chrono::steady_clock::now();
    const bool present =
        !script.absent && vendorId == kRemoteVendorId && productId == script.productId;
    const int32_t handle = present ? kHandle : -1;
    char line[64];
    std::snprintf(line, sizeof line, "open %04x %04x %d", static_cast<unsigned>(vendorId & 0xFFFF),
                  static_cast<unsigned>(productId & 0xFFFF), handle);
    if (logFile != nullptr) {
        std::fprintf(logFile, "0.000 %s\n", line);
        std::fflush(logFile);
    }
    open = present;
    nextReport = 0;
    cancel.store(0);
    openedVendorId = vendorId;
    openedProductId = productId;
    nextGap = 0;
    lost = false;
    modeWrittenMs.clear();
    heldAnswers.clear();
    heldNewest = kNone;
    return handle;
}

// The script's remote, while there is one, as a device named after the
// script; not logged: the program never lists.
extern "C" int32_t ListHidDevices(int32_t vendorId, int32_t productId, TinyHidDevice* devices,
                                  int32_t capacity) {
    std::lock_guard lock(mutex);
    LoadScript();
    const bool present =
        !script.absent && vendorId == kRemoteVendorId && productId == script.productId;
    if (present && devices != nullptr && capacity > 0) {
        const char* name = std::getenv("GLOWBRAND_SCRIPT");
        std::snprintf(devices[0].path, sizeof devices[0].path, "%s", name != nullptr ? name : "");
        devices[0].vendorId = vendorId;
        devices[0].productId = productId;
        devices[0].bus = TINY_HID_BUS_OTHER;
    }
    return present ? 1 : 0;
}

// Delivers the newest report whose time has come, dropping older undelivered
// data and holding status reports and answers, as the real library does with
// reports that queued up.
extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    for (;;) {
        int64_t waitNs = kWaitSliceNs;
        {
            std::lock_guard lock(mutex);
            if (!open || handle != kHandle || buffer == nullptr) {
                Log("read error");
                return -1;
            }
            if (cancel.load() != 0) {
                Log("read none");
                return 0;
            }
            const double now = MsSinceOpen();
            if (!lost && Gone(now)) {
                lost = true;
                heldAnswers.clear();  // gone with the remote, as the real library's
                heldNewest = kNone;
                nextReopenMs = now + kReopenIntervalMs;
                Log("read gone");
            }
            if (lost && now >= nextReopenMs && TryReopen(now)) {
                return TINY_HID_REOPENED;
            }
            if (lost) {
                waitNs = std::min(waitNs, static_cast<int64_t>((nextReopenMs - now) * 1e6) + 1);
            } else if (const int32_t length = DeliverDue(now, buffer, count); length > 0) {
                return length;
            } else if (nextReport < script.reports.size()) {
                const double untilNext =
                    static_cast<double>(script.reports[nextReport].timeMs) - now;
                waitNs = std::min(waitNs, static_cast<int64_t>(untilNext * 1e6) + 1);
            }
        }
        SleepNs(waitNs);
    }
}

extern "C" int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count) {
    std::lock_guard lock(mutex);
    if (!open || handle != kHandle || buffer == nullptr) {
        Log("write error");
        return -1;
    }
    const int length = OutputReportLength(buffer[0]);
    if (length == 0) {
        Log("write refused " + Hex(buffer, 1));
        return -1;
    }
    const std::string bytes = Hex(buffer, static_cast<size_t>(length));
    if (Gone(MsSinceOpen())) {
        Log("write gone " + bytes);
        return -1;
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    if (buffer[0] == kReportMode) {
        modeWrittenMs.push_back(MsSinceOpen());
    }
    Log("write " + bytes);
    return length;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    std::lock_guard lock(mutex);
    if (!open || handle != kHandle) {
        return -1;
    }
    open = false;
    // The log stays open: a call after the close is a fault worth seeing.
    Log("close " + std::to_string(handle));
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t handle, int32_t on) {
    if (handle != kHandle) {
        return -1;
    }
    cancel.store(on);
    return 0;
}
