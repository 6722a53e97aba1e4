#include "fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hid/remote_protocol.h"

bool fakeHidapiDevicePresent = true;
std::deque<std::vector<uint8_t>> fakeHidapiPending;
std::vector<std::vector<uint8_t>> fakeHidapiWritten;
int fakeHidapiTimedWaits = 0;
std::function<void()> fakeHidapiOnWait;
int fakeHidapiOpen = 0;
int fakeHidapiReadError = 0;
std::function<void()> fakeHidapiOnOpen;
int fakeHidapiOpenError = 0;

namespace {
int device;  // its address is the device pointer handed out
}

void ResetFakeHidapi() {
    fakeHidapiDevicePresent = true;
    fakeHidapiPending.clear();
    fakeHidapiWritten.clear();
    fakeHidapiTimedWaits = 0;
    fakeHidapiOnWait = nullptr;
    fakeHidapiReadError = 0;
    fakeHidapiOnOpen = nullptr;
    fakeHidapiOpenError = 0;
}

int hid_init() {
    return 0;
}

// The one remote, listed while present, at /dev/hidraw0 on Bluetooth.
hid_device_info* hid_enumerate(unsigned short vendor, unsigned short product) {
    if (fakeHidapiOnOpen) {
        fakeHidapiOnOpen();
    }
    if (!fakeHidapiDevicePresent || vendor != kRemoteVendorId || product != kRemoteProductId) {
        return nullptr;
    }
    auto* info = new hid_device_info{};
    info->path = strdup("/dev/hidraw0");
    info->vendor_id = vendor;
    info->product_id = product;
    info->bus_type = HID_API_BUS_BLUETOOTH;
    return info;
}

void hid_free_enumeration(hid_device_info* devices) {
    while (devices != nullptr) {
        hid_device_info* next = devices->next;
        std::free(devices->path);
        delete devices;
        devices = next;
    }
}

hid_device* hid_open_path(const char*) {
    if (fakeHidapiOpenError != 0) {
        errno = fakeHidapiOpenError;
        return nullptr;
    }
    ++fakeHidapiOpen;
    return reinterpret_cast<hid_device*>(&device);
}

void hid_close(hid_device*) {
    --fakeHidapiOpen;
}

int hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds) {
    if (fakeHidapiReadError != 0) {
        errno = fakeHidapiReadError;
        fakeHidapiReadError = 0;
        return -1;
    }
    if (fakeHidapiPending.empty() && milliseconds != 0) {
        ++fakeHidapiTimedWaits;
        if (fakeHidapiOnWait) {
            fakeHidapiOnWait();
        }
    }
    if (fakeHidapiPending.empty()) {
        return 0;
    }
    const std::vector<uint8_t> report = fakeHidapiPending.front();
    fakeHidapiPending.pop_front();
    const size_t n = std::min(length, report.size());
    std::copy_n(report.begin(), n, data);
    return static_cast<int>(n);
}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
    fakeHidapiWritten.emplace_back(data, data + length);
    return static_cast<int>(length);
}
