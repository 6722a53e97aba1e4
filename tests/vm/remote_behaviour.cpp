#include "remote_behaviour.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kReportPeriodMs = 10.0;
// Memory read error: no such register (nothing is plugged in).
constexpr uint8_t kNoSuchRegister = 0x07;
// A memory read's flags: bit 2 selects the register space.
constexpr uint8_t kRegisterSpace = 0x04;
// Real buttons of each button byte; the other bits carry accelerometer bits.
constexpr uint8_t kButtons1 = 0x1F;
constexpr uint8_t kButtons2 = 0x9F;

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

std::vector<uint8_t> RemoteReportDescriptor() {
    struct Report {
        uint8_t id;
        uint8_t bytes;
        bool output;
    };
    const Report reports[] = {
        {0x10, 1, true},   {0x11, 1, true},   {0x12, 2, true},   {0x13, 1, true},
        {0x14, 1, true},   {0x15, 1, true},   {0x16, 21, true},  {0x17, 6, true},
        {0x18, 21, true},  {0x19, 1, true},   {0x1A, 1, true},   {0x20, 6, false},
        {0x21, 21, false}, {0x22, 4, false},  {0x30, 2, false},  {0x31, 5, false},
        {0x32, 10, false}, {0x33, 17, false}, {0x34, 21, false}, {0x35, 21, false},
        {0x36, 21, false}, {0x37, 21, false}, {0x3D, 21, false}, {0x3E, 21, false},
        {0x3F, 21, false},
    };
    std::vector<uint8_t> d = {
        0x05, 0x01,        // usage page: generic desktop
        0x09, 0x05,        // usage: game pad
        0xA1, 0x01,        // collection: application
        0x15, 0x00,        // logical minimum 0
        0x26, 0xFF, 0x00,  // logical maximum 255
        0x75, 0x08,        // report size: 8 bits
        0x06, 0x00, 0xFF,  // usage page: vendor defined
    };
    for (const Report& r : reports) {
        const uint8_t item[] = {
            0x85, r.id, 0x95, r.bytes, 0x09, 0x01, static_cast<uint8_t>(r.output ? 0x91 : 0x81),
            0x00};
        d.insert(d.end(), std::begin(item), std::end(item));
    }
    d.push_back(0xC0);  // end collection
    return d;
}

bool RemoteBehaviour::TakeOption(const char* option) {
    const char* const battery = "--battery=";
    if (std::strcmp(option, "--low-bits=noise") == 0 ||
        std::strcmp(option, "--low-bits=clear") == 0) {
        noisyYZ_ = std::strcmp(option, "--low-bits=noise") == 0;
        return true;
    }
    if (std::strncmp(option, battery, std::strlen(battery)) == 0) {
        const char* level = option + std::strlen(battery);
        char* end = nullptr;
        const long value = std::strtol(level, &end, 10);
        if (end == level || *end != '\0' || value < 0 || value > 255) {
            return false;
        }
        battery_ = static_cast<uint8_t>(value);
        return true;
    }
    return false;
}

std::string RemoteBehaviour::LoadScript(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    const std::string error = ParseScript(text, script_);
    silent_ = script_.reports.empty();
    if (error.empty() && script_.absent) {
        return "absent needs no remote";
    }
    return error;
}

bool RemoteBehaviour::OpenLog(const char* path) {
    log_ = std::fopen(path, "w");
    createdAt_ = Clock::now();
    return log_ != nullptr;
}

void RemoteBehaviour::CloseLog() {
    if (log_ != nullptr) {
        std::fclose(log_);
        log_ = nullptr;
    }
}

const char* RemoteBehaviour::Name() const {
    return script_.productId == kRemotePlusProductId ? "Nintendo RVL-CNT-01-TR"
                                                     : "Nintendo RVL-CNT-01";
}

double RemoteBehaviour::Now() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - createdAt_).count();
}

void RemoteBehaviour::Log(const std::string& line) const {
    std::fprintf(log_, "%.3f %s\n", Now(), line.c_str());
    std::fflush(log_);
}

std::string RemoteBehaviour::Ids() const {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x %04x", static_cast<unsigned>(kRemoteVendorId),
                  static_cast<unsigned>(script_.productId & 0xFFFF));
    return ids;
}

void RemoteBehaviour::Connected() {
    // A new connection: the remote starts in mode 0x30, dark and still.
    present_ = true;
    mode_ = kReportButtons;
    rumble_ = false;
    leds_ = 0;
    lastButtonsSent_ = -1;
    Log("create " + Ids());
}

void RemoteBehaviour::Disconnected() {
    if (present_) {
        present_ = false;
        Log("destroy " + Ids());
    }
}

void RemoteBehaviour::Send(RemoteCarrier& carrier, const uint8_t* bytes, size_t length,
                           bool logged) {
    if (!present_ || silent_) {
        return;
    }
    carrier.Send(bytes, length);
    if (logged) {
        Log("input " + Hex(bytes, length));
    }
}

uint32_t RemoteBehaviour::NextNoise() {
    noise_ = noise_ * 1103515245u + 12345u;
    return noise_ >> 16;
}

// The buttons as they go out in the current mode: in 0x31 the low
// accelerometer bits fill the spare bits, in 0x30 they stay clear.
void RemoteBehaviour::SendData(RemoteCarrier& carrier) {
    uint8_t b1 = buttons_[0] & kButtons1;
    uint8_t b2 = buttons_[1];
    if (mode_ != kReportButtonsAccel) {
        const uint8_t report[3] = {kReportButtons, b1, static_cast<uint8_t>(b2 & kButtons2)};
        Send(carrier, report, sizeof report, false);
        lastButtonsSent_ = b1 << 8 | (b2 & kButtons2);
        return;
    }
    const uint32_t n = NextNoise();
    b1 |= static_cast<uint8_t>((n & 0x3) << 5);  // X bits 0-1
    if (noisyYZ_) {
        b2 |= static_cast<uint8_t>(((n >> 2) & 0x1) << 5);  // Y bit 1
        b2 |= static_cast<uint8_t>(((n >> 3) & 0x1) << 6);  // Z bit 1
    }
    const uint8_t report[6] = {kReportButtonsAccel, b1, b2, accel_[0], accel_[1], accel_[2]};
    Send(carrier, report, sizeof report, false);
}

void RemoteBehaviour::SendStatus(RemoteCarrier& carrier) {
    const uint8_t report[7] = {kReportStatus,
                               static_cast<uint8_t>(buttons_[0] & kButtons1),
                               static_cast<uint8_t>(buttons_[1] & kButtons2),
                               leds_,
                               0x00,
                               0x00,
                               battery_};
    Send(carrier, report, sizeof report, true);
}

// 0x17: flags, 3 address bytes, 2 size bytes. Nothing is plugged in, so
// the register space answers with an error; the EEPROM reads as zeros.
void RemoteBehaviour::AnswerRead(RemoteCarrier& carrier, const uint8_t* out, size_t length) {
    if (length < 7) {
        return;
    }
    const bool registers = (out[1] & kRegisterSpace) != 0;
    int remaining = out[5] << 8 | out[6];
    int address = out[3] << 8 | out[4];
    do {
        const int chunk = remaining > 16 ? 16 : (remaining < 1 ? 1 : remaining);
        uint8_t report[22] = {kReportMemoryData, static_cast<uint8_t>(buttons_[0] & kButtons1),
                              static_cast<uint8_t>(buttons_[1] & kButtons2)};
        report[3] = static_cast<uint8_t>((chunk - 1) << 4 | (registers ? kNoSuchRegister : 0));
        report[4] = static_cast<uint8_t>(address >> 8);
        report[5] = static_cast<uint8_t>(address);
        Send(carrier, report, sizeof report, true);
        if (registers) {
            return;
        }
        remaining -= chunk;
        address += chunk;
    } while (remaining > 0);
}

void RemoteBehaviour::AnswerWrite(RemoteCarrier& carrier) {
    const uint8_t report[5] = {kReportAcknowledge, static_cast<uint8_t>(buttons_[0] & kButtons1),
                               static_cast<uint8_t>(buttons_[1] & kButtons2), kReportMemoryWrite,
                               0x00};
    Send(carrier, report, sizeof report, true);
}

void RemoteBehaviour::OnOutput(RemoteCarrier& carrier, const uint8_t* out, size_t length) {
    if (length == 0) {
        return;
    }
    // A stack that takes only reports of the interface's whole output length
    // (Windows') pads the report with zeros, which the remote ignores as a
    // real one does: the log shows the report. Padding that is not zeros is
    // shown, as a fault.
    const size_t own = static_cast<size_t>(OutputReportLength(out[0]));
    if (own > 0 && own < length &&
        std::all_of(out + own, out + length, [](uint8_t byte) { return byte == 0; })) {
        length = own;
    }
    Log("write " + Hex(out, length));
    if (length >= 2) {
        rumble_ = (out[1] & kRumbleBit) != 0;
    }
    switch (out[0]) {
        case kReportLeds:
            if (length >= 2) {
                leds_ = out[1] & kLedsAll;
            }
            break;
        case kReportMode:
            if (length >= 3) {
                mode_ = out[2] == kReportButtonsAccel ? kReportButtonsAccel : kReportButtons;
                lastButtonsSent_ = -1;
                nextDataMs_ = Now();
                if (mode_ == kReportButtonsAccel && !scriptStarted_) {
                    scriptStarted_ = true;
                    scriptZero_ = Clock::now();
                    Log("start");
                }
            }
            break;
        case kReportStatusRequest:
            SendStatus(carrier);
            break;
        case kReportMemoryWrite:
            AnswerWrite(carrier);
            break;
        case kReportMemoryRead:
            AnswerRead(carrier, out, length);
            break;
        default:
            break;
    }
}

// Takes what the script says is due by script time `t`.
void RemoteBehaviour::PlayScript(RemoteCarrier& carrier, double t) {
    if (nextGap_ < script_.gaps.size()) {
        const ScriptGap& gap = script_.gaps[nextGap_];
        if (!dropped_ && static_cast<double>(gap.fromMs) <= t) {
            dropped_ = true;
            if (present_) {
                carrier.Drop();
            }
        }
        if (dropped_ && static_cast<double>(gap.untilMs) <= t) {
            dropped_ = false;
            ++nextGap_;
            carrier.Return();
        }
    }
    while (nextReport_ < script_.reports.size() &&
           static_cast<double>(script_.reports[nextReport_].timeMs) <= t) {
        const std::vector<uint8_t>& bytes = script_.reports[nextReport_].bytes;
        ++nextReport_;
        if (bytes[0] >= kFirstDataReport && bytes[0] <= kLastDataReport) {
            if (bytes.size() >= 3) {
                buttons_[0] = bytes[1];
                buttons_[1] = bytes[2];
            }
            if (bytes[0] == kReportButtonsAccel && bytes.size() >= kButtonsAccelLength) {
                std::memcpy(accel_, &bytes[3], 3);
            }
            continue;
        }
        Send(carrier, bytes.data(), bytes.size(), true);
        if (bytes[0] == kReportStatus) {
            mode_ = kReportButtons;  // an accessory came or went: data only on change
        }
    }
}

void RemoteBehaviour::Prepare(RemoteCarrier& carrier) {
    PlayScript(carrier, 0.0);
}

double RemoteBehaviour::Run(RemoteCarrier& carrier) {
    if (scriptStarted_) {
        PlayScript(carrier,
                   std::chrono::duration<double, std::milli>(Clock::now() - scriptZero_).count());
    }
    if (present_ && mode_ == kReportButtonsAccel) {
        const double now = Now();
        if (now >= nextDataMs_) {
            SendData(carrier);
            nextDataMs_ = now - nextDataMs_ > kReportPeriodMs ? now + kReportPeriodMs
                                                              : nextDataMs_ + kReportPeriodMs;
        }
        return nextDataMs_ - Now();
    }
    if (present_) {
        const int pressed = (buttons_[0] & kButtons1) << 8 | (buttons_[1] & kButtons2);
        if (pressed != lastButtonsSent_) {
            SendData(carrier);
        }
        return 2.0;
    }
    return kReportPeriodMs;
}
