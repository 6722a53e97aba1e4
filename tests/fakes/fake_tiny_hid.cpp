#include "fakes/fake_tiny_hid.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "hid/report_length.h"
#include "hid/tiny_hid.h"

namespace {

std::mutex mutex;
std::deque<std::vector<uint8_t>> queued;
std::vector<FakeHidCall> calls;

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

}  // namespace

void ResetFakeHid() {
    std::lock_guard lock(mutex);
    queued.clear();
    calls.clear();
}

void QueueFakeReport(std::vector<uint8_t> bytes) {
    std::lock_guard lock(mutex);
    queued.push_back(std::move(bytes));
}

std::vector<FakeHidCall> FakeHidCalls() {
    std::lock_guard lock(mutex);
    return calls;
}

std::vector<std::string> FakeHidCallTexts() {
    std::vector<std::string> texts;
    for (const FakeHidCall& call : FakeHidCalls()) {
        texts.push_back(call.text);
    }
    return texts;
}

extern "C" int32_t OpenHidHandle(int32_t, int32_t) {
    return 0;
}

extern "C" int32_t ReadReport(int32_t, uint8_t* buffer, uint32_t* count) {
    std::lock_guard lock(mutex);
    if (queued.empty() || queued.front().empty()) {
        if (!queued.empty()) {
            queued.pop_front();
        }
        calls.push_back({"read none", std::this_thread::get_id()});
        return 0;
    }
    const std::vector<uint8_t> report = std::move(queued.front());
    queued.pop_front();
    std::memcpy(buffer, report.data(), report.size());
    *count = static_cast<uint32_t>(report.size());
    calls.push_back({"read", std::this_thread::get_id()});
    return static_cast<int32_t>(report.size());
}

extern "C" int32_t WriteReport(int32_t, const uint8_t* buffer, uint32_t* count) {
    std::lock_guard lock(mutex);
    const int length = OutputReportLength(buffer[0]);
    calls.push_back(
        {"write " + Hex(buffer, static_cast<size_t>(length)), std::this_thread::get_id()});
    *count = static_cast<uint32_t>(length);
    return length;
}

extern "C" int32_t CloseHidHandle(int32_t) {
    return 0;
}

extern "C" int32_t CancelReadReport(int32_t, int32_t) {
    return 0;
}
