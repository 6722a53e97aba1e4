// tiny_hid for a real Wii Remote: the rules every system shares, over the
// thin call layer of device_calls.h.
//
// A remote that is switched off or leaves radio range makes its reads fail.
// The handle then stays valid but the device counts as gone: reads wait as
// for a silent remote (and can be cancelled), writes fail, and every
// kReopenIntervalMs a waiting read looks for a device with the same
// identifiers again. When one is back, the read returns TINY_HID_REOPENED:
// the caller, not the library, puts the remote back as it left it.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "config.h"
#include "hid/device_calls.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reports drained per read at most, so that a flooding device cannot keep a
// read from returning.
constexpr int kHidMaxDrain = 1024;

struct Report {
    int32_t length = 0;  // 0: none
    uint8_t bytes[TINY_HID_BUFFER_SIZE];
};

struct Handle {
    bool inUse = false;
    devicecalls::Device device = nullptr;  // nullptr while the remote is gone
    int32_t vendorId = 0;
    int32_t productId = 0;
    Clock::time_point nextReopen;
    // Drained but not delivered yet: the remote's answers in the order they
    // came, and the newest of the other reports.
    std::array<Report, kHidHeldAnswers> answers;
    int32_t answerCount = 0;
    Report newest;
};

// The system's calls on one device must not overlap, and a returning remote
// replaces the device under a reading thread, so one lock guards every
// handle. A reader holds it one read at a time and steps aside whenever a
// writer is waiting: a write goes out within one read slice.
std::mutex libraryMutex;
std::atomic<int> waitingWriters{0};
std::array<Handle, kHidMaxHandles> handles;
std::array<std::atomic<int32_t>, kHidMaxHandles> cancel{};
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(static_cast<int32_t>(devicecalls::Refusal::Absent) == TINY_HID_ABSENT &&
              static_cast<int32_t>(devicecalls::Refusal::Denied) == TINY_HID_DENIED &&
              static_cast<int32_t>(devicecalls::Refusal::Held) == TINY_HID_HELD &&
              static_cast<int32_t>(devicecalls::Refusal::Other) == TINY_HID_REFUSED);

Handle* Find(int32_t handle) {
    if (handle < 0 || handle >= kHidMaxHandles || !handles[handle].inUse) {
        return nullptr;
    }
    return &handles[handle];
}

void YieldToWriters(std::unique_lock<std::mutex>& lock) {
    if (waitingWriters.load() == 0) {
        return;
    }
    lock.unlock();
    while (waitingWriters.load() != 0) {
        std::this_thread::yield();
    }
    lock.lock();
}

// One read of the device, writers first; a failed device is released, and
// what was held of it with it.
int32_t ReadOnce(std::unique_lock<std::mutex>& lock, Handle& h, int32_t slot, uint8_t* report,
                 int32_t timeoutMs) {
    YieldToWriters(lock);
    if (h.device == nullptr) {
        return 0;
    }
    const int32_t length = devicecalls::Read(h.device, slot, report, timeoutMs);
    if (length == devicecalls::kGone) {
        devicecalls::Close(h.device);
        h.device = nullptr;
        h.nextReopen = Clock::now() + std::chrono::milliseconds(kReopenIntervalMs);
        h.answerCount = 0;
        h.newest.length = 0;
        return 0;
    }
    return length;
}

int32_t Deliver(const uint8_t* report, int32_t length, uint8_t* buffer, uint32_t* count) {
    std::memcpy(buffer, report, static_cast<size_t>(length));
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    return length;
}

// A status report or another writer's answer happens once and says what the
// data reports cannot (the mode is gone, the motor was stopped): never
// dropped for newer data. A flood of them keeps the latest.
void Hold(Handle& h, const Report& report) {
    if (!IsAnswerReport(report.bytes[0])) {
        h.newest = report;
        return;
    }
    if (h.answerCount == kHidHeldAnswers) {
        std::move(h.answers.begin() + 1, h.answers.end(), h.answers.begin());
        --h.answerCount;
    }
    h.answers[h.answerCount++] = report;
}

int32_t DeliverFirstAnswer(Handle& h, uint8_t* buffer, uint32_t* count) {
    const Report first = h.answers[0];
    std::move(h.answers.begin() + 1, h.answers.begin() + h.answerCount, h.answers.begin());
    --h.answerCount;
    return Deliver(first.bytes, first.length, buffer, count);
}

}  // namespace

extern "C" int32_t TryOpenHidHandle(int32_t vendorId, int32_t productId) {
    std::lock_guard lock(libraryMutex);
    for (int32_t slot = 0; slot < kHidMaxHandles; ++slot) {
        Handle& h = handles[slot];
        if (h.inUse) {
            continue;
        }
        devicecalls::Refusal why = devicecalls::Refusal::Absent;
        h.device = devicecalls::Open(vendorId, productId, slot, &why);
        if (h.device == nullptr) {
            return static_cast<int32_t>(why);
        }
        h.inUse = true;
        h.vendorId = vendorId;
        h.productId = productId;
        cancel[slot].store(0);
        devicecalls::Wake(slot, false);
        return slot;
    }
    return TINY_HID_ABSENT;
}

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    const int32_t handle = TryOpenHidHandle(vendorId, productId);
    return handle >= 0 ? handle : -1;
}

extern "C" int32_t ListHidDevices(int32_t vendorId, int32_t productId, TinyHidDevice* devices,
                                  int32_t capacity) {
    std::vector<devicecalls::Listed> found;
    {
        std::lock_guard lock(libraryMutex);
        if (!devicecalls::List(vendorId, productId, found)) {
            return -1;
        }
    }
    for (int32_t i = 0; i < capacity && devices != nullptr && i < std::ssize(found); ++i) {
        TinyHidDevice& d = devices[i];
        const std::string& path = found[static_cast<size_t>(i)].path;
        const size_t kept = std::min(path.size(), sizeof d.path - 1);
        std::memcpy(d.path, path.data(), kept);
        d.path[kept] = '\0';
        d.vendorId = vendorId;
        d.productId = found[static_cast<size_t>(i)].productId;
        d.bus =
            found[static_cast<size_t>(i)].bluetooth ? TINY_HID_BUS_BLUETOOTH : TINY_HID_BUS_OTHER;
    }
    return static_cast<int32_t>(found.size());
}

extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    std::unique_lock lock(libraryMutex);
    Handle* h = Find(handle);
    if (h == nullptr || buffer == nullptr) {
        return -1;
    }

    // Of the data that queued up while the caller was busy only the newest
    // counts: acting on it report by report would lag behind the hand. The
    // answers are kept, one delivered per read. The newest data goes first,
    // so that a single read (the probe's) sees the remote report; answers
    // held over from an earlier read go before newer data, so that a steady
    // stream of it cannot hold them back. The bound keeps a flooding device
    // from holding the read.
    const bool answersWaited = h->answerCount > 0;
    Report pending;
    for (int drained = 0; drained < kHidMaxDrain; ++drained) {
        pending.length = ReadOnce(lock, *h, handle, pending.bytes, 0);
        if (pending.length <= 0) {
            break;
        }
        Hold(*h, pending);
    }
    if (h->answerCount > 0 && (answersWaited || h->newest.length == 0)) {
        return DeliverFirstAnswer(*h, buffer, count);
    }
    if (h->newest.length > 0) {
        const int32_t length = std::exchange(h->newest.length, 0);
        return Deliver(h->newest.bytes, length, buffer, count);
    }
    uint8_t report[TINY_HID_BUFFER_SIZE];

    // Nothing pending: wait for the next report a slice at a time, or for a
    // gone remote to come back.
    while (cancel[handle].load() == 0) {
        if (h->device != nullptr) {
            const int32_t length = ReadOnce(lock, *h, handle, report, kHidReadSliceMs);
            if (length > 0) {
                return Deliver(report, length, buffer, count);
            }
        } else if (Clock::now() < h->nextReopen) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(kHidReadSliceMs));
            lock.lock();
        } else {
            h->nextReopen = Clock::now() + std::chrono::milliseconds(kReopenIntervalMs);
            h->device = devicecalls::Open(h->vendorId, h->productId, handle);
            if (h->device != nullptr) {
                return TINY_HID_REOPENED;
            }
        }
    }
    return 0;
}

extern "C" int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count) {
    ++waitingWriters;
    std::unique_lock lock(libraryMutex);
    --waitingWriters;
    Handle* h = Find(handle);
    if (h == nullptr || buffer == nullptr || h->device == nullptr) {
        return -1;
    }
    const int32_t length = OutputReportLength(buffer[0]);
    if (length == 0 || !devicecalls::Write(h->device, buffer, length)) {
        return -1;
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    return length;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    std::lock_guard lock(libraryMutex);
    Handle* h = Find(handle);
    if (h == nullptr) {
        return -1;
    }
    if (h->device != nullptr) {
        devicecalls::Close(h->device);
    }
    *h = Handle{};
    cancel[handle].store(0);
    devicecalls::Wake(handle, false);
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t handle, int32_t on) {
    if (handle < 0 || handle >= kHidMaxHandles) {
        return -1;
    }
    cancel[handle].store(on);
    devicecalls::Wake(handle, on != 0);
    return 0;
}
