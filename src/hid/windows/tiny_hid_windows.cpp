// tiny_hid on Windows' own HID stack: a real Wii Remote, paired over
// Bluetooth.
//
// The remote is found by enumerating HID interfaces and asking each for its
// identifiers, which must be the ones asked for. Reads keep only the newest
// queued report, as the other libraries do.
//
// Writes: the Plus takes output reports only on the interrupt channel, so
// WriteFile is the way, and which length it wants differs between Windows
// versions and Bluetooth stacks. The report's own length is tried first, then
// the same report padded with zeros to the interface's output length, and only
// then the control channel (HidD_SetOutputReport). The way that worked is kept
// for the rest of the session.
//
// A remote that fails (switched off, out of range) does not end the handle:
// reads wait as for a silent remote, writes fail, and every kReopenInterval a
// waiting read looks for it again. The read that finds it back returns
// TINY_HID_REOPENED; the caller puts the remote back in its state.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "hid/windows/hid_calls.h"

namespace {

using Clock = std::chrono::steady_clock;

// A read waits in slices of this length, so that a gone remote is noticed
// and writers get their turn.
constexpr int32_t kReadSliceMs = 10;
// Between looks for a gone remote: a look enumerates every HID interface, so
// twice a second keeps a lost remote from loading the machine while a
// returning one is back within half a second.
constexpr auto kReopenInterval = std::chrono::milliseconds(500);
// Reports the system queues for the remote: the least it allows. Fewer queued
// reports mean less stale motion to drain.
constexpr int32_t kInputBuffers = 2;
// A write not out by then counts as failed: a vanished remote must not hold
// the program's loop.
constexpr int32_t kWriteBoundMs = 1000;
// Reports drained per read at most, so that a flooding device cannot keep a
// read from returning.
constexpr int kMaxDrain = 1024;
constexpr int kMaxHandles = 8;

enum class WriteWay { Unknown, Exact, Padded, ControlChannel };

struct Device {
    bool inUse = false;
    hidcalls::Device device = nullptr;  // nullptr while the remote is gone
    int32_t vendorId = 0;
    int32_t productId = 0;
    int32_t inputLength = 0;
    int32_t outputLength = 0;
    WriteWay writeWay = WriteWay::Unknown;
    Clock::time_point nextReopen;
};

std::mutex libraryMutex;  // guards devices but cancel and wake
std::atomic<int> waitingWriters{0};
std::array<Device, kMaxHandles> devices;
std::array<std::atomic<int32_t>, kMaxHandles> cancel{};
// Made on first open and kept, so that a cancel never meets a freed event.
std::array<std::atomic<hidcalls::WakeSignal>, kMaxHandles> wake{};

Device* Find(int32_t handle) {
    if (handle < 0 || handle >= kMaxHandles || !devices[handle].inUse) {
        return nullptr;
    }
    return &devices[handle];
}

// Exactly the device asked for: the link asks for the Plus itself where no
// original remote is.
bool Matches(const hidcalls::Identity& identity, int32_t vendorId, int32_t productId) {
    return identity.vendorId == vendorId && identity.productId == productId;
}

// Opens the first present interface that matches, with its report lengths.
bool OpenMatching(Device& d) {
    for (const std::string& path : hidcalls::ListInterfaces()) {
        hidcalls::Identity identity;
        if (!hidcalls::Identify(path, identity) || !Matches(identity, d.vendorId, d.productId)) {
            continue;
        }
        // The remote is there but cannot be had (another program holds it):
        // as good as no remote.
        d.device = hidcalls::Open(path);
        if (d.device == nullptr) {
            return false;
        }
        if (!hidcalls::ReportLengths(d.device, d.inputLength, d.outputLength)) {
            d.inputLength = TINY_HID_BUFFER_SIZE;
            d.outputLength = 0;
        }
        hidcalls::SetInputBuffers(d.device, kInputBuffers);
        return true;
    }
    return false;
}

void MarkGone(Device& d) {
    hidcalls::Close(d.device);
    d.device = nullptr;
    d.nextReopen = Clock::now() + kReopenInterval;
}

// The system hands over the interface's whole input length; only the bytes
// the report's identifier carries are the remote's.
int32_t Deliver(const uint8_t* report, int32_t length, uint8_t* buffer, uint32_t* count) {
    const int32_t carried = InputReportLength(report[0]);
    if (carried > 0 && carried < length) {
        length = carried;
    }
    std::memcpy(buffer, report, static_cast<size_t>(length));
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    return length;
}

int32_t ReadSlice(Device& d, uint8_t* report, int32_t timeoutMs, int32_t handle) {
    const int32_t capacity = d.inputLength > 0 && d.inputLength < TINY_HID_BUFFER_SIZE
                                 ? d.inputLength
                                 : TINY_HID_BUFFER_SIZE;
    const int32_t length = hidcalls::Read(d.device, report, capacity, timeoutMs, wake[handle]);
    if (length < 0) {
        MarkGone(d);
    }
    return length;
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

// The report padded with zeros to the interface's output length.
std::vector<uint8_t> Padded(const uint8_t* report, int32_t length, int32_t outputLength) {
    std::vector<uint8_t> padded(static_cast<size_t>(std::max(length, outputLength)), 0);
    std::memcpy(padded.data(), report, static_cast<size_t>(length));
    return padded;
}

bool SendAs(Device& d, WriteWay way, const uint8_t* report, int32_t length,
            hidcalls::WriteResult& result) {
    if (way == WriteWay::Exact) {
        result = hidcalls::Write(d.device, report, length, kWriteBoundMs);
    } else if (way == WriteWay::Padded) {
        const std::vector<uint8_t> padded = Padded(report, length, d.outputLength);
        result = hidcalls::Write(d.device, padded.data(), static_cast<int32_t>(padded.size()),
                                 kWriteBoundMs);
    } else {
        const std::vector<uint8_t> padded = Padded(report, length, d.outputLength);
        result =
            hidcalls::SetOutputReport(d.device, padded.data(), static_cast<int32_t>(padded.size()))
                ? hidcalls::WriteResult::Sent
                : hidcalls::WriteResult::Failed;
    }
    return result == hidcalls::WriteResult::Sent;
}

// Finds the way this stack takes output reports, trying them in order. A
// failure that is not about the length ends the search: the remote is gone.
bool SendFindingTheWay(Device& d, const uint8_t* report, int32_t length) {
    hidcalls::WriteResult result{};
    for (const WriteWay way : {WriteWay::Exact, WriteWay::Padded, WriteWay::ControlChannel}) {
        if (way == WriteWay::Padded && d.outputLength <= length) {
            continue;  // padding would change nothing
        }
        if (SendAs(d, way, report, length, result)) {
            d.writeWay = way;
            return true;
        }
        if (result != hidcalls::WriteResult::LengthRejected) {
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    std::lock_guard lock(libraryMutex);
    for (int32_t handle = 0; handle < kMaxHandles; ++handle) {
        Device& d = devices[handle];
        if (d.inUse) {
            continue;
        }
        d = Device{};
        d.vendorId = vendorId;
        d.productId = productId;
        if (!OpenMatching(d)) {
            return -1;
        }
        if (wake[handle].load() == nullptr) {
            wake[handle].store(hidcalls::NewWakeSignal());
        }
        d.inUse = true;
        cancel[handle].store(0);
        hidcalls::ClearWake(wake[handle]);
        return handle;
    }
    return -1;
}

extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    std::unique_lock lock(libraryMutex);
    // A thread that reads on at once (the pulse's watcher) would otherwise
    // take the lock back before a waiting writer wakes.
    YieldToWriters(lock);
    Device* d = Find(handle);
    if (d == nullptr || buffer == nullptr) {
        return -1;
    }
    uint8_t report[TINY_HID_BUFFER_SIZE];

    // Keep only the newest of the reports that queued up while the caller
    // was busy: acting on them one by one would lag behind the hand.
    // A writer waiting meanwhile goes first: a stack slower to hand reports
    // over than the remote sends them never runs dry.
    int32_t newest = 0;
    for (int drained = 0; d->device != nullptr && drained < kMaxDrain; ++drained) {
        YieldToWriters(lock);
        uint8_t pending[TINY_HID_BUFFER_SIZE];
        const int32_t length = ReadSlice(*d, pending, 0, handle);
        if (length <= 0) {
            break;
        }
        std::memcpy(report, pending, static_cast<size_t>(length));
        newest = length;
    }
    if (newest > 0) {
        return Deliver(report, newest, buffer, count);
    }

    // Nothing pending: wait for the next report a slice at a time, or for a
    // gone remote to come back.
    while (cancel[handle].load() == 0) {
        if (d->device == nullptr) {
            if (Clock::now() < d->nextReopen) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(kReadSliceMs));
                lock.lock();
                continue;
            }
            d->nextReopen = Clock::now() + kReopenInterval;
            if (OpenMatching(*d)) {
                return TINY_HID_REOPENED;
            }
            continue;
        }
        const int32_t length = ReadSlice(*d, report, kReadSliceMs, handle);
        if (length > 0) {
            return Deliver(report, length, buffer, count);
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
    const int32_t length = OutputReportLength(buffer[0]);
    if (length == 0 || d->device == nullptr) {
        return -1;
    }
    hidcalls::WriteResult result = hidcalls::WriteResult::LengthRejected;
    bool sent = d->writeWay != WriteWay::Unknown && SendAs(*d, d->writeWay, buffer, length, result);
    // A remote back over another stack may want another way.
    if (!sent && result == hidcalls::WriteResult::LengthRejected) {
        sent = SendFindingTheWay(*d, buffer, length);
    }
    if (!sent) {
        return -1;
    }
    // What the program meant to send, whatever padding the stack needed.
    if (count != nullptr) {
        *count = static_cast<uint32_t>(length);
    }
    return length;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    std::lock_guard lock(libraryMutex);
    Device* d = Find(handle);
    if (d == nullptr) {
        return -1;
    }
    if (d->device != nullptr) {
        hidcalls::Close(d->device);
    }
    *d = Device{};
    cancel[handle].store(0);
    hidcalls::ClearWake(wake[handle]);
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t handle, int32_t on) {
    if (handle < 0 || handle >= kMaxHandles) {
        return -1;
    }
    cancel[handle].store(on);
    // No event yet: no read has waited on this handle.
    if (hidcalls::WakeSignal signal = wake[handle].load(); signal != nullptr) {
        if (on != 0) {
            hidcalls::Wake(signal);
        } else {
            hidcalls::ClearWake(signal);
        }
    }
    return 0;
}
