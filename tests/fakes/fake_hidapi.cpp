#include "fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>

#include "hid/remote_protocol.h"

bool fakeHidapiDevicePresent = true;
std::deque<std::vector<uint8_t>> fakeHidapiPending;
std::vector<std::vector<uint8_t>> fakeHidapiWritten;
int fakeHidapiTimedWaits = 0;
std::function<void()> fakeHidapiOnWait;
int fakeHidapiOpen = 0;
int fakeHidapiReadError = 0;
std::function<void()> fakeHidapiOnOpen;

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
}

int hid_init() {
    return 0;
}

hid_device* hid_open(unsigned short vendor, unsigned short product, const wchar_t*) {
    if (fakeHidapiOnOpen) {
        fakeHidapiOnOpen();
    }
    if (!fakeHidapiDevicePresent || vendor != kRemoteVendorId || product != kRemoteProductId) {
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
