// tiny_hid over hidapi's hidraw backend: a real Wii Remote.
#include <hidapi.h>

#include <array>
#include <atomic>
#include <cstring>
#include <ctime>

#include "hid/report_length.h"
#include "hid/tiny_hid.h"

namespace {

// A read waits in slices of this length so that a cancel is seen promptly.
constexpr int kReadSliceMs = 10;
// Reports drained per read at most, so that a flooding device cannot keep a
// read from returning.
constexpr int kMaxDrain = 1024;
constexpr int kMaxHandles = 8;

struct Device {
    hid_device* device = nullptr;
    std::atomic<int32_t> cancel{0};
};

std::array<Device, kMaxHandles> devices;
bool hidReady = false;

Device* Find(int32_t handle) {
    if (handle < 0 || handle >= kMaxHandles || devices[handle].device == nullptr) {
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

}  // namespace

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    if (!hidReady) {
        if (hid_init() != 0) {
            return -1;
        }
        hidReady = true;
    }
    for (int32_t handle = 0; handle < kMaxHandles; ++handle) {
        if (devices[handle].device != nullptr) {
            continue;
        }
        hid_device* device = hid_open(static_cast<unsigned short>(vendorId),
                                      static_cast<unsigned short>(productId), nullptr);
        if (device == nullptr) {
            return -1;
        }
        devices[handle].device = device;
        devices[handle].cancel.store(0);
        return handle;
    }
    return -1;
}

extern "C" int32_t ReadReport(int32_t handle, uint8_t* buffer, uint32_t* count) {
    Device* d = Find(handle);
    if (d == nullptr || buffer == nullptr) {
        return -1;
    }
    uint8_t report[TINY_HID_BUFFER_SIZE];

    // Keep only the newest of the reports that queued up while the caller
    // was busy: acting on them one by one would lag behind the hand.
    int newest = 0;
    for (int drained = 0; drained < kMaxDrain; ++drained) {
        uint8_t pending[TINY_HID_BUFFER_SIZE];
        const int length = hid_read_timeout(d->device, pending, sizeof pending, 0);
        if (length < 0) {
            return -1;
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

    // Nothing pending: wait for the next report, a slice at a time.
    while (d->cancel.load() == 0) {
        const int length = hid_read_timeout(d->device, report, sizeof report, kReadSliceMs);
        if (length < 0) {
            return -1;
        }
        if (length > 0) {
            Deliver(report, length, buffer, count);
            return length;
        }
    }
    return 0;
}

extern "C" int32_t WriteReport(int32_t handle, const uint8_t* buffer, uint32_t* count) {
    Device* d = Find(handle);
    if (d == nullptr || buffer == nullptr) {
        return -1;
    }
    const int length = OutputReportLength(buffer[0]);
    if (length == 0) {
        return -1;
    }
    const int sent = hid_write(d->device, buffer, static_cast<size_t>(length));
    if (sent >= 0 && count != nullptr) {
        *count = static_cast<uint32_t>(sent);
    }
    return sent;
}

extern "C" int32_t CloseHidHandle(int32_t handle) {
    Device* d = Find(handle);
    if (d == nullptr) {
        return -1;
    }
    hid_close(d->device);
    d->device = nullptr;
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
