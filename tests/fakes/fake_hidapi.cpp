#include "fake_hidapi.h"

#include <hidapi.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

struct hid_device_ {
    int number;
};

namespace {

struct QueuedRead {
    std::vector<uint8_t> report;
    bool fail;
    int error = EIO;
};

std::mutex mutex;
bool present = false;
std::deque<hid_device_> opened;  // stable addresses
std::deque<QueuedRead> reads;
std::vector<std::string> calls;

std::string Hex(const unsigned char* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

}  // namespace

void ResetFakeHidapi() {
    std::lock_guard lock(mutex);
    present = false;
    opened.clear();
    reads.clear();
    calls.clear();
}

void SetFakeDevicePresent(bool isPresent) {
    std::lock_guard lock(mutex);
    present = isPresent;
}

void QueueFakeRead(std::vector<uint8_t> report, bool fail) {
    std::lock_guard lock(mutex);
    reads.push_back({std::move(report), fail});
}

void QueueFakeInterruptedRead() {
    std::lock_guard lock(mutex);
    reads.push_back({{}, true, EINTR});
}

std::vector<std::string> FakeHidapiCalls() {
    std::lock_guard lock(mutex);
    return calls;
}

int CountFakeHidapiCalls(const std::string& prefix) {
    int n = 0;
    for (const std::string& call : FakeHidapiCalls()) {
        n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

extern "C" int hid_init(void) {
    return 0;
}

extern "C" hid_device* hid_open(unsigned short, unsigned short, const wchar_t*) {
    std::lock_guard lock(mutex);
    if (!present) {
        calls.push_back("open 0");
        return nullptr;
    }
    opened.push_back({static_cast<int>(opened.size()) + 1});
    calls.push_back("open " + std::to_string(opened.back().number));
    return &opened.back();
}

extern "C" int hid_read_timeout(hid_device* device, unsigned char* data, size_t length,
                                int milliseconds) {
    {
        std::lock_guard lock(mutex);
        calls.push_back("read " + std::to_string(device->number));
        if (!reads.empty()) {
            const QueuedRead read = std::move(reads.front());
            reads.pop_front();
            if (read.fail) {
                errno = read.error;
                return -1;
            }
            const size_t n = std::min(length, read.report.size());
            std::memcpy(data, read.report.data(), n);
            return static_cast<int>(n);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}

extern "C" int hid_write(hid_device* device, const unsigned char* data, size_t length) {
    std::lock_guard lock(mutex);
    calls.push_back("write " + std::to_string(device->number) + " " + Hex(data, length));
    return static_cast<int>(length);
}

extern "C" void hid_close(hid_device* device) {
    std::lock_guard lock(mutex);
    calls.push_back("close " + std::to_string(device->number));
}
