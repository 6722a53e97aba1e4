#include "fake_win32_hid.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "hid/windows/hid_calls.h"

std::vector<FakeInterface> fakeInterfaces;
std::deque<std::vector<uint8_t>> fakeHidPending;
std::vector<FakeWrite> fakeHidWrites;
int fakeHidTimedWaits = 0;
std::function<void()> fakeHidOnWait;
std::function<void()> fakeHidOnList;
std::function<void(const FakeWrite&)> fakeHidOnWrite;
int fakeHidOpen = 0;
int fakeHidInputBuffers = 0;
bool fakeHidReadFails = false;
int fakeHidReportEveryMs = 0;
int fakeHidReadMs = 0;

namespace {

int wakeSignal;  // its address is the one signal handed out
std::chrono::steady_clock::time_point nextClockedReport;

// The clocked remote's next report, waiting up to timeoutMs for it.
int32_t ReadClocked(uint8_t* dest, int32_t inputLength, int32_t timeoutMs) {
    const std::chrono::milliseconds period(fakeHidReportEveryMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(fakeHidReadMs));
    const auto now = std::chrono::steady_clock::now();
    if (nextClockedReport > now) {
        if (now + std::chrono::milliseconds(timeoutMs) < nextClockedReport) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        std::this_thread::sleep_until(nextClockedReport);
    }
    // The system queues two reports at most (the library asks for that).
    nextClockedReport =
        std::max(nextClockedReport, std::chrono::steady_clock::now() - 2 * period) + period;
    std::memset(dest, 0, static_cast<size_t>(inputLength));
    const uint8_t report[] = {0x31, 0x00, 0x00, 0x80, 0x80, 0x9A};
    std::memcpy(dest, report, sizeof report);
    return inputLength;
}

FakeInterface* Find(const std::string& path) {
    for (FakeInterface& i : fakeInterfaces) {
        if (i.path == path && i.present) {
            return &i;
        }
    }
    return nullptr;
}

FakeInterface& Of(hidcalls::Device device) {
    return *static_cast<FakeInterface*>(device);
}

}  // namespace

void ResetFakeWin32Hid() {
    fakeInterfaces = {
        {.path = "wine-keyboard", .vendorId = 0x845E, .productId = 0x0001},
        {.path = "wine-mouse", .vendorId = 0x845E, .productId = 0x0002},
        {.path = "remote", .vendorId = 0x057E, .productId = 0x0306},
    };
    fakeHidPending.clear();
    fakeHidWrites.clear();
    fakeHidTimedWaits = 0;
    fakeHidOnWait = nullptr;
    fakeHidOnList = nullptr;
    fakeHidOnWrite = nullptr;
    fakeHidInputBuffers = 0;
    fakeHidReadFails = false;
    fakeHidReportEveryMs = 0;
    fakeHidReadMs = 0;
}

namespace hidcalls {

std::vector<std::string> ListInterfaces() {
    if (fakeHidOnList) {
        fakeHidOnList();
    }
    std::vector<std::string> paths;
    for (const FakeInterface& i : fakeInterfaces) {
        if (i.present) {
            paths.push_back(i.path);
        }
    }
    return paths;
}

bool Identify(const std::string& path, Identity& identity) {
    const FakeInterface* i = Find(path);
    if (i == nullptr) {
        return false;
    }
    identity = {i->vendorId, i->productId};
    return true;
}

Device Open(const std::string& path, OpenFailure* why) {
    FakeInterface* i = Find(path);
    if (i == nullptr || !i->openable) {
        if (why != nullptr) {
            *why = i == nullptr ? OpenFailure::Gone : OpenFailure::Held;
        }
        return nullptr;
    }
    ++fakeHidOpen;
    return i;
}

bool ReportLengths(Device device, int32_t& inputLength, int32_t& outputLength) {
    inputLength = Of(device).inputLength;
    outputLength = Of(device).outputLength;
    return true;
}

void SetInputBuffers(Device, int32_t count) {
    fakeHidInputBuffers = count;
}

int32_t Read(Device device, uint8_t* dest, int32_t capacity, int32_t timeoutMs, WakeSignal) {
    const FakeInterface& i = Of(device);
    if (fakeHidReadFails || !i.present || capacity < i.inputLength) {
        return -1;
    }
    if (fakeHidReportEveryMs > 0 && fakeHidPending.empty()) {
        return ReadClocked(dest, i.inputLength, timeoutMs);
    }
    if (fakeHidPending.empty() && timeoutMs != 0) {
        ++fakeHidTimedWaits;
        if (fakeHidOnWait) {
            fakeHidOnWait();
        }
    }
    if (fakeHidPending.empty()) {
        return 0;
    }
    std::vector<uint8_t> report = fakeHidPending.front();
    fakeHidPending.pop_front();
    report.resize(static_cast<size_t>(i.inputLength), 0);
    std::memcpy(dest, report.data(), report.size());
    return i.inputLength;
}

WriteResult Write(Device device, const uint8_t* report, int32_t length, int32_t) {
    const FakeInterface& i = Of(device);
    fakeHidWrites.push_back({"write", {report, report + length}, std::chrono::steady_clock::now()});
    if (fakeHidOnWrite) {
        fakeHidOnWrite(fakeHidWrites.back());
    }
    if (!i.present) {
        return WriteResult::Failed;
    }
    const bool padded = length == i.outputLength;
    if ((padded && i.rejectsPadded) || (!padded && i.rejectsExact)) {
        return WriteResult::LengthRejected;
    }
    return WriteResult::Sent;
}

bool SetOutputReport(Device device, const uint8_t* report, int32_t length) {
    const FakeInterface& i = Of(device);
    fakeHidWrites.push_back({"set", {report, report + length}, std::chrono::steady_clock::now()});
    if (fakeHidOnWrite) {
        fakeHidOnWrite(fakeHidWrites.back());
    }
    return i.present && i.controlWorks && length == i.outputLength;
}

void Close(Device) {
    --fakeHidOpen;
}

WakeSignal NewWakeSignal() {
    return &wakeSignal;
}

void Wake(WakeSignal) {}

void ClearWake(WakeSignal) {}

}  // namespace hidcalls
