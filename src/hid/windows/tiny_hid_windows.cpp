// The read core's calls (device_calls.h) over Windows' own HID stack: a
// real Wii Remote, paired over Bluetooth.
//
// The remote is found by enumerating HID interfaces and asking each for its
// identifiers, which must be the ones asked for.
//
// Writes: the Plus takes output reports only on the interrupt channel, so
// WriteFile is the way, and which length it wants differs between Windows
// versions and Bluetooth stacks. The report's own length is tried first, then
// the same report padded with zeros to the interface's output length, and only
// then the control channel (HidD_SetOutputReport). The way that worked is kept
// while the remote stays.
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "hid/device_calls.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "hid/windows/hid_calls.h"

namespace {

// Reports Windows queues for the remote: its own default, a third of a
// second of data. A short queue loses a status report or another writer's
// answer behind the data that follows it before the program reads (wine
// keeps one report fewer than asked), and draining a longer one costs
// little: only the newest data is kept.
constexpr int32_t kWindowsInputBuffers = 32;
// A write not out by then counts as failed: a vanished remote must not hold
// the program's loop.
constexpr int32_t kWindowsWriteBoundMs = 1000;

enum class WriteWay { Unknown, Exact, Padded, ControlChannel };

struct Remote {
    hidcalls::Device device = nullptr;
    int32_t inputLength = 0;
    int32_t outputLength = 0;
    WriteWay writeWay = WriteWay::Unknown;
};

Remote& Of(devicecalls::Device device) {
    return *static_cast<Remote*>(device);
}

// Made on a slot's first open and kept, so that a cancel never meets a
// freed event.
std::array<std::atomic<hidcalls::WakeSignal>, kHidMaxHandles> wake{};

// The report padded with zeros to the interface's output length.
std::vector<uint8_t> Padded(const uint8_t* report, int32_t length, int32_t outputLength) {
    std::vector<uint8_t> padded(static_cast<size_t>(std::max(length, outputLength)), 0);
    std::memcpy(padded.data(), report, static_cast<size_t>(length));
    return padded;
}

bool SendAs(Remote& r, WriteWay way, const uint8_t* report, int32_t length,
            hidcalls::WriteResult& result) {
    if (way == WriteWay::Exact) {
        result = hidcalls::Write(r.device, report, length, kWindowsWriteBoundMs);
    } else if (way == WriteWay::Padded) {
        const std::vector<uint8_t> padded = Padded(report, length, r.outputLength);
        result = hidcalls::Write(r.device, padded.data(), static_cast<int32_t>(padded.size()),
                                 kWindowsWriteBoundMs);
    } else {
        const std::vector<uint8_t> padded = Padded(report, length, r.outputLength);
        result =
            hidcalls::SetOutputReport(r.device, padded.data(), static_cast<int32_t>(padded.size()))
                ? hidcalls::WriteResult::Sent
                : hidcalls::WriteResult::Failed;
    }
    return result == hidcalls::WriteResult::Sent;
}

// Finds the way this stack takes output reports, trying them in order. A
// failure that is not about the length ends the search: the remote is gone.
bool SendFindingTheWay(Remote& r, const uint8_t* report, int32_t length) {
    hidcalls::WriteResult result{};
    for (const WriteWay way : {WriteWay::Exact, WriteWay::Padded, WriteWay::ControlChannel}) {
        if (way == WriteWay::Padded && r.outputLength <= length) {
            continue;  // padding would change nothing
        }
        if (SendAs(r, way, report, length, result)) {
            r.writeWay = way;
            return true;
        }
        if (result != hidcalls::WriteResult::LengthRejected) {
            return false;
        }
    }
    return false;
}

// A HID device over Bluetooth has the HID service's class identifier in its
// interface path; others (USB, wine's own) do not.
bool OnBluetooth(const std::string& path) {
    static constexpr std::string_view kHidServiceClass = "00001124-0000-1000-8000-00805f9b34fb";
    std::string lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(kHidServiceClass) != std::string::npos;
}

devicecalls::Refusal RefusalOf(hidcalls::OpenFailure failure) {
    switch (failure) {
        case hidcalls::OpenFailure::Gone:
            return devicecalls::Refusal::Absent;
        case hidcalls::OpenFailure::Denied:
            return devicecalls::Refusal::Denied;
        case hidcalls::OpenFailure::Held:
            return devicecalls::Refusal::Held;
        default:
            return devicecalls::Refusal::Other;
    }
}

}  // namespace

namespace devicecalls {

bool List(int32_t vendorId, int32_t productId, std::vector<Listed>& found) {
    for (const std::string& path : hidcalls::ListInterfaces()) {
        hidcalls::Identity identity;
        if (hidcalls::Identify(path, identity) && identity.vendorId == vendorId &&
            identity.productId == productId) {
            found.push_back({.path = path, .productId = productId, .bluetooth = OnBluetooth(path)});
        }
    }
    return true;
}

Device Open(int32_t vendorId, int32_t productId, int32_t slot, Refusal* why) {
    if (wake[slot].load() == nullptr) {
        wake[slot].store(hidcalls::NewWakeSignal());
    }
    std::vector<Listed> found;
    List(vendorId, productId, found);
    if (found.empty()) {
        if (why != nullptr) {
            *why = Refusal::Absent;
        }
        return nullptr;
    }
    // The remote is there but cannot be had (another program holds it): as
    // good as no remote to the program, a reason to the caller who asks.
    hidcalls::OpenFailure failure = hidcalls::OpenFailure::Other;
    const hidcalls::Device device = hidcalls::Open(found.front().path, &failure);
    if (device == nullptr) {
        if (why != nullptr) {
            *why = RefusalOf(failure);
        }
        return nullptr;
    }
    auto* r = new Remote{.device = device};
    if (!hidcalls::ReportLengths(device, r->inputLength, r->outputLength)) {
        r->inputLength = TINY_HID_BUFFER_SIZE;
        r->outputLength = 0;
    }
    hidcalls::SetInputBuffers(device, kWindowsInputBuffers);
    return r;
}

void Close(Device device) {
    hidcalls::Close(Of(device).device);
    delete &Of(device);
}

// The system hands over the interface's whole input length; only the bytes
// the report's identifier carries are the remote's.
int32_t Read(Device device, int32_t slot, uint8_t* dest, int32_t timeoutMs) {
    const Remote& r = Of(device);
    const int32_t capacity = r.inputLength > 0 && r.inputLength < TINY_HID_BUFFER_SIZE
                                 ? r.inputLength
                                 : TINY_HID_BUFFER_SIZE;
    const int32_t length = hidcalls::Read(r.device, dest, capacity, timeoutMs, wake[slot]);
    if (length < 0) {
        return kGone;
    }
    const int32_t carried = length > 0 ? InputReportLength(dest[0]) : 0;
    return carried > 0 && carried < length ? carried : length;
}

bool Write(Device device, const uint8_t* report, int32_t length) {
    Remote& r = Of(device);
    hidcalls::WriteResult result = hidcalls::WriteResult::LengthRejected;
    const bool sent =
        r.writeWay != WriteWay::Unknown && SendAs(r, r.writeWay, report, length, result);
    // A remote back over another stack may want another way.
    return sent || (result == hidcalls::WriteResult::LengthRejected &&
                    SendFindingTheWay(r, report, length));
}

void Wake(int32_t slot, bool on) {
    // No event yet: no read has waited on this slot.
    if (hidcalls::WakeSignal signal = wake[slot].load(); signal != nullptr) {
        if (on) {
            hidcalls::Wake(signal);
        } else {
            hidcalls::ClearWake(signal);
        }
    }
}

}  // namespace devicecalls
