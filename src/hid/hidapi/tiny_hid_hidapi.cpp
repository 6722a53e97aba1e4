// tiny_hid over hidapi's hidraw backend: a real Wii Remote.
//
// A remote that is switched off or leaves radio range makes hidapi's reads
// fail. The handle then stays valid but the device counts as gone: reads wait
// as for a silent remote (and can be cancelled), writes fail, and every
// kReopenIntervalMs a waiting read looks for a device with the same
// identifiers again. When one is back, the read returns TINY_HID_REOPENED:
// the caller, not the library, puts the remote back as it left it.
#include <hidapi.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace {

using Clock = std::chrono::steady_clock;

// A read waits in slices of this length so that a cancel is seen promptly.
constexpr int kReadSliceMs = 10;
// Between looks for a gone device. Enumerating devices costs a few ms of
// system time, so twice a second keeps a lost remote from loading the machine
// while a returning one is back within half a second.
constexpr auto kReopenInterval = std::chrono::milliseconds(500);
// Reports drained per read at most, so that a flooding device cannot keep a
// read from returning.
constexpr int kMaxDrain = 1024;
constexpr int kMaxHandles = 8;

struct Device {
    bool inUse = false;
    hid_device* device = nullptr;  // nullptr while the remote is gone
    unsigned short vendorId = 0;
    unsigned short productId = 0;
    Clock::time_point nextReopen;
    std::atomic<int32_t> cancel{0};
};

// hidapi's calls on one device must not overlap (it keeps per-device error
// text), and a returning remote replaces the device under a reading thread,
// so one lock guards every device but `cancel`. A waiting reader holds it one
// slice at a time and steps aside when a writer is waiting.
std::mutex libraryMutex;
std::atomic<int> waitingWriters{0};
std::array<Device, kMaxHandles> devices;
bool hidReady = false;

Device* Find(int32_t handle) {
    if (handle < 0 || handle >= kMaxHandles || !devices[handle].inUse) {
        return nullptr;
    }
    return &devices[handle];
}

void Deliver(const uint8_t* report, int length, uint8_t* buffer, uint32_t* count) {
    std::memcpy(buffer, report, static_cast<size_t>(length));
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
}

// A signal that lands while hidapi waits makes its read fail too; the
// device is still there, and the signal's handler has its own way of ending
// the read (CancelReadReport).
bool Interrupted() {
    return errno == EINTR;
}

void MarkGone(Device& d) {
    hid_close(d.device);
    d.device = nullptr;
    d.nextReopen = Clock::now() + kReopenInterval;
}

// Returns true when the device is back.
bool TryReopen(Device& d) {
    d.nextReopen = Clock::now() + kReopenInterval;
    d.device = hid_open(d.vendorId, d.productId, nullptr);
    return d.device != nullptr;
}

// Lets a waiting writer take the lock between two slices of a read.
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

}  // namespace

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    std::lock_guard lock(libraryMutex);
    if (!hidReady) {
        if (hid_init() != 0) {
            return -1;
        }
        hidReady = true;
    }
    for (int32_t handle = 0; handle < kMaxHandles; ++handle) {
        Device& d = devices[handle];
        if (d.inUse) {
            continue;
        }
        d.vendorId = static_cast<unsigned short>(vendorId);
        d.productId = static_cast<unsigned short>(productId);
        d.device = hid_open(d.vendorId, d.productId, nullptr);
        if (d.device == nullptr) {
            return -1;
        }
        d.inUse = true;
        d.cancel.store(0);
        return handle;
    }
    return -1;
}

extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    std::unique_lock lock(libraryMutex);
    // A thread that reads on at once (the reader that watches a rumble pulse)
    // would otherwise take the lock back before a waiting writer wakes, with
    // a report every 10 ms, and hold the end of the pulse back.
    YieldToWriters(lock);
    Device* d = Find(handle);
    if (d == nullptr || buffer == nullptr) {
        return -1;
    }
    uint8_t report[TINY_HID_BUFFER_SIZE];

    // Keep only the newest of the reports that queued up while the caller
    // was busy: acting on them one by one would lag behind the hand.
    // A writer waiting meanwhile goes first: a remote that reports faster
    // than it is read never lets the queue run dry.
    int newest = 0;
    for (int drained = 0; d->device != nullptr && drained < kMaxDrain; ++drained) {
        YieldToWriters(lock);
        uint8_t pending[TINY_HID_BUFFER_SIZE];
        const int length = hid_read_timeout(d->device, pending, sizeof pending, 0);
        if (length < 0) {
            if (!Interrupted()) {
                MarkGone(*d);
            }
            break;
        }
        if (length == 0) {
            break;
        }
        std::memcpy(report, pending, static_cast<size_t>(length));
        newest = length;
    }
    if (newest > 0) {
        Deliver(report, newest, buffer, count);
        return newest;
    }

    // Nothing pending: wait for the next report a slice at a time, or for a
    // gone remote to come back.
    while (d->cancel.load() == 0) {
        if (d->device == nullptr) {
            if (Clock::now() >= d->nextReopen) {
                if (TryReopen(*d)) {
                    return TINY_HID_REOPENED;
                }
            } else {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(kReadSliceMs));
                lock.lock();
            }
            continue;
        }
        const int length = hid_read_timeout(d->device, report, sizeof report, kReadSliceMs);
        if (length < 0) {
            if (!Interrupted()) {
                MarkGone(*d);
            }
            continue;
        }
        if (length > 0) {
            Deliver(report, length, buffer, count);
            return length;
        }
        YieldToWriters(lock);
    }
    return 0;
}

extern "C" int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count) {
    ++waitingWriters;
    std::unique_lock lock(libraryMutex);
    --waitingWriters;
    Device* d = Find(handle);
    if (d == nullptr || buffer == nullptr) {
        return -1;
    }
    const int length = OutputReportLength(buffer[0]);
    if (length == 0) {
        return -1;
    }
    if (d->device == nullptr) {
        return -1;
    }
    const int sent = hid_write(d->device, buffer, static_cast<size_t>(length));
    if (sent >= 0 && count != nullptr) {
        *count = static_cast<uint32_t>(sent);
    }
    return sent;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    std::lock_guard lock(libraryMutex);
    Device* d = Find(handle);
    if (d == nullptr) {
        return -1;
    }
    if (d->device != nullptr) {
        hid_close(d->device);
    }
    d->device = nullptr;
    d->inUse = false;
    d->cancel.store(0);
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t handle, int32_t cancel) {
    if (handle < 0 || handle >= kMaxHandles) {
        return -1;
    }
    devices[handle].cancel.store(cancel);
    return 0;
}
