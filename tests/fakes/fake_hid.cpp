#include "fake_hid.h"

#include <algorithm>

std::deque<int32_t> fakeHidOpensFirst;
int32_t fakeHidOpenResult = 0;
int32_t fakeHidProduct = 0;
std::map<int32_t, int32_t> fakeHidOpenResultOf;
std::vector<int32_t> fakeHidOpenedWith;
std::deque<std::vector<uint8_t>> fakeHidReports;
int fakeHidReopens = 0;
std::vector<HidBuffer> fakeHidWrites;
std::vector<char> fakeHidCallOrder;
std::vector<TinyHidDevice> fakeHidListed;
int fakeHidReads = 0;
int fakeHidCloses = 0;

void ResetFakeHid() {
    fakeHidOpensFirst.clear();
    fakeHidOpenResult = 0;
    fakeHidProduct = 0;
    fakeHidOpenResultOf.clear();
    fakeHidOpenedWith.clear();
    fakeHidReports.clear();
    fakeHidReopens = 0;
    fakeHidWrites.clear();
    fakeHidCallOrder.clear();
    fakeHidListed.clear();
    fakeHidReads = 0;
    fakeHidCloses = 0;
}

extern "C" int32_t OpenHidHandle(int32_t vendorId, int32_t productId) {
    const int32_t handle = TryOpenHidHandle(vendorId, productId);
    return handle >= 0 ? handle : -1;
}

extern "C" int32_t TryOpenHidHandle(int32_t vendorId, int32_t productId) {
    fakeHidOpenedWith.push_back(vendorId);
    fakeHidOpenedWith.push_back(productId);
    if (!fakeHidOpensFirst.empty()) {
        const int32_t result = fakeHidOpensFirst.front();
        fakeHidOpensFirst.pop_front();
        return result;
    }
    if (const auto result = fakeHidOpenResultOf.find(productId);
        result != fakeHidOpenResultOf.end()) {
        return result->second;
    }
    return fakeHidProduct == 0 || fakeHidProduct == productId ? fakeHidOpenResult : -1;
}

// An empty queue is a read that delivers nothing, as a cancelled one does.
extern "C" int32_t ReadReport(int32_t, uint8_t* buffer, uint32_t* count) {
    ++fakeHidReads;
    fakeHidCallOrder.push_back('r');
    if (fakeHidReopens > 0) {
        --fakeHidReopens;
        return TINY_HID_REOPENED;
    }
    if (fakeHidReports.empty()) {
        return 0;
    }
    const std::vector<uint8_t> report = fakeHidReports.front();
    fakeHidReports.pop_front();
    const size_t length = std::min<size_t>(report.size(), TINY_HID_BUFFER_SIZE);
    std::copy_n(report.begin(), length, buffer);
    *count = static_cast<uint32_t>(length);
    return static_cast<int32_t>(length);
}

extern "C" int32_t WriteReport(int32_t, const uint8_t* buffer, uint32_t* count) {
    HidBuffer copy;
    std::copy_n(buffer, copy.size(), copy.begin());
    fakeHidWrites.push_back(copy);
    fakeHidCallOrder.push_back('w');
    *count = 2;
    return 2;
}

extern "C" int32_t CloseHidHandle(int32_t) {
    ++fakeHidCloses;
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t, int32_t) {
    return 0;
}

extern "C" int32_t ListHidDevices(int32_t vendorId, int32_t productId, TinyHidDevice* devices,
                                  int32_t capacity) {
    int32_t present = 0;
    for (const TinyHidDevice& device : fakeHidListed) {
        if (device.vendorId == vendorId && device.productId == productId) {
            if (present < capacity) {
                devices[present] = device;
            }
            ++present;
        }
    }
    return present;
}
