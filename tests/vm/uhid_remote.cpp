// A Wii Remote made at kernel level, for the VM suite: a Bluetooth HID device
// created through /dev/uhid that answers and reports as a remote does, so the
// real glowbrand meets it through hidraw, next to the kernel's own driver.
//
//   glowbrand-uhid-remote SCRIPT LOG [--low-bits=noise|clear] [--battery=LEVEL]
//
// SCRIPT is a scripted remote's script (src/hid/scripted/script.h). Its
// clock starts when the remote is first given report mode 0x31, as the
// program does right after opening it. Its data reports set what the remote
// feels (buttons, accelerometer); the remote reports that in the mode last
// set: 0x31 every 10 ms, 0x30 only when the buttons change. Other reports go
// out as they are, at their time. `gone A-B` destroys the device and creates
// it again; `product` picks the product id; `accessory` sends its status
// report and leaves the remote in mode 0x30 until the mode is set again.
//
// The remote answers a status request 0x15 with 0x20 (its last byte the
// battery level, 0-255, 200 unless --battery names another), a memory read
// 0x17 with 0x21 and a memory write 0x16 with 0x22, and follows the rumble
// bit (bit 0 of byte 1) of every output report. A script without reports is
// a remote that never sends, as in the scripted remote: not even answers.
//
// Accelerometer values are 10 bits wide, as on a real remote: the report's
// bytes are the top 8 bits, and the low bits ride in the button bytes (X's
// two in bits 5-6 of the first, bit 1 of Y and Z in bits 5 and 6 of the
// second). They vary like a resting hand's; --low-bits=clear keeps Y's and
// Z's at 0, a remote held so that they stay clear.
//
// LOG gets one line per event, in ms since the device was first created, in
// the scripted remote's format so that the same checks read both:
//   <t> create 057e 0306      the device appears (again, after a `gone`)
//   <t> destroy 057e 0306     it vanishes
//   <t> start                 the script's clock starts (first mode 0x31)
//   <t> write <bytes>         an output report, from the program or the kernel
//                             (less zeros a stack padded it with)
//   <t> input <bytes>         a report the remote sends other than data
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hid/remote_protocol.h"
#include "hid/scripted/script.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kBusBluetooth = 0x05;
constexpr double kReportPeriodMs = 10.0;
// Memory read error: no such register (nothing is plugged in).
constexpr uint8_t kNoSuchRegister = 0x07;
// A memory read's flags: bit 2 selects the register space.
constexpr uint8_t kRegisterSpace = 0x04;
// Real buttons of each button byte; the other bits carry accelerometer bits.
constexpr uint8_t kButtons1 = 0x1F;
constexpr uint8_t kButtons2 = 0x9F;

volatile sig_atomic_t stopRequested = 0;

// The remote's HID report descriptor: every report is a run of vendor-defined
// bytes, the identifier not counted.
std::vector<uint8_t> ReportDescriptor() {
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

struct Remote {
    int fd = -1;
    FILE* log = nullptr;
    Script script;
    bool noisyYZ = true;
    bool silent = false;
    uint8_t battery = kStatusBattery;
    Clock::time_point createdAt;
    bool scriptStarted = false;
    Clock::time_point scriptZero;
    size_t nextReport = 0;
    size_t nextGap = 0;
    bool present = false;
    // What the remote feels and does.
    uint8_t buttons[2] = {0, 0};
    uint8_t accel[3] = {0x80, 0x80, 0x80};
    uint8_t mode = kReportButtons;
    bool rumble = false;
    uint8_t leds = 0;
    int lastButtonsSent = -1;
    double nextDataMs = 0;
    uint32_t noise = 12345;
};

double Now(const Remote& r) {
    return std::chrono::duration<double, std::milli>(Clock::now() - r.createdAt).count();
}

double ScriptNow(const Remote& r) {
    return std::chrono::duration<double, std::milli>(Clock::now() - r.scriptZero).count();
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

void Log(const Remote& r, const std::string& line) {
    std::fprintf(r.log, "%.3f %s\n", Now(r), line.c_str());
    std::fflush(r.log);
}

std::string Ids(const Remote& r) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x %04x", static_cast<unsigned>(kRemoteVendorId),
                  static_cast<unsigned>(r.script.productId & 0xFFFF));
    return ids;
}

bool SendEvent(const Remote& r, const uhid_event& ev) {
    return write(r.fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
}

bool Create(Remote& r) {
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    const bool plus = r.script.productId == kRemotePlusProductId;
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "%s",
                  plus ? "Nintendo RVL-CNT-01-TR" : "Nintendo RVL-CNT-01");
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, "%s",
                  "00:1f:32:aa:bb:cc");
    const std::vector<uint8_t> descriptor = ReportDescriptor();
    std::memcpy(ev.u.create2.rd_data, descriptor.data(), descriptor.size());
    ev.u.create2.rd_size = static_cast<uint16_t>(descriptor.size());
    ev.u.create2.bus = kBusBluetooth;
    ev.u.create2.vendor = kRemoteVendorId;
    ev.u.create2.product = static_cast<uint32_t>(r.script.productId);
    if (!SendEvent(r, ev)) {
        return false;
    }
    // A new connection: the remote starts in mode 0x30, dark and still.
    r.present = true;
    r.mode = kReportButtons;
    r.rumble = false;
    r.leds = 0;
    r.lastButtonsSent = -1;
    Log(r, "create " + Ids(r));
    return true;
}

void Destroy(Remote& r) {
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    SendEvent(r, ev);
    r.present = false;
    Log(r, "destroy " + Ids(r));
}

void SendInput(Remote& r, const uint8_t* bytes, size_t length, bool logged) {
    if (!r.present || r.silent) {
        return;
    }
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<uint16_t>(length);
    std::memcpy(ev.u.input2.data, bytes, length);
    SendEvent(r, ev);
    if (logged) {
        Log(r, "input " + Hex(bytes, length));
    }
}

uint32_t NextNoise(Remote& r) {
    r.noise = r.noise * 1103515245u + 12345u;
    return r.noise >> 16;
}

// The buttons as they go out in the current mode: in 0x31 the low
// accelerometer bits fill the spare bits, in 0x30 they stay clear.
void SendData(Remote& r) {
    uint8_t b1 = r.buttons[0] & kButtons1;
    uint8_t b2 = r.buttons[1];
    if (r.mode != kReportButtonsAccel) {
        const uint8_t report[3] = {kReportButtons, b1, static_cast<uint8_t>(b2 & kButtons2)};
        SendInput(r, report, sizeof report, false);
        r.lastButtonsSent = b1 << 8 | (b2 & kButtons2);
        return;
    }
    const uint32_t n = NextNoise(r);
    b1 |= static_cast<uint8_t>((n & 0x3) << 5);  // X bits 0-1
    if (r.noisyYZ) {
        b2 |= static_cast<uint8_t>(((n >> 2) & 0x1) << 5);  // Y bit 1
        b2 |= static_cast<uint8_t>(((n >> 3) & 0x1) << 6);  // Z bit 1
    }
    const uint8_t report[6] = {kReportButtonsAccel, b1, b2, r.accel[0], r.accel[1], r.accel[2]};
    SendInput(r, report, sizeof report, false);
}

void SendStatus(Remote& r) {
    const uint8_t report[7] = {kReportStatus,
                               static_cast<uint8_t>(r.buttons[0] & kButtons1),
                               static_cast<uint8_t>(r.buttons[1] & kButtons2),
                               r.leds,
                               0x00,
                               0x00,
                               r.battery};
    SendInput(r, report, sizeof report, true);
}

// 0x17: flags, 3 address bytes, 2 size bytes. Nothing is plugged in, so
// the register space answers with an error; the EEPROM reads as zeros.
void AnswerRead(Remote& r, const uint8_t* out, size_t length) {
    if (length < 7) {
        return;
    }
    const bool registers = (out[1] & kRegisterSpace) != 0;
    int remaining = out[5] << 8 | out[6];
    int address = out[3] << 8 | out[4];
    do {
        const int chunk = remaining > 16 ? 16 : (remaining < 1 ? 1 : remaining);
        uint8_t report[22] = {kReportMemoryData, static_cast<uint8_t>(r.buttons[0] & kButtons1),
                              static_cast<uint8_t>(r.buttons[1] & kButtons2)};
        report[3] = static_cast<uint8_t>((chunk - 1) << 4 | (registers ? kNoSuchRegister : 0));
        report[4] = static_cast<uint8_t>(address >> 8);
        report[5] = static_cast<uint8_t>(address);
        SendInput(r, report, sizeof report, true);
        if (registers) {
            return;
        }
        remaining -= chunk;
        address += chunk;
    } while (remaining > 0);
}

void AnswerWrite(Remote& r) {
    const uint8_t report[5] = {kReportAcknowledge, static_cast<uint8_t>(r.buttons[0] & kButtons1),
                               static_cast<uint8_t>(r.buttons[1] & kButtons2), kReportMemoryWrite,
                               0x00};
    SendInput(r, report, sizeof report, true);
}

void OnOutput(Remote& r, const uint8_t* out, size_t length) {
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
    Log(r, "write " + Hex(out, length));
    if (length >= 2) {
        r.rumble = (out[1] & kRumbleBit) != 0;
    }
    switch (out[0]) {
        case kReportLeds:
            if (length >= 2) {
                r.leds = out[1] & kLedsAll;
            }
            break;
        case kReportMode:
            if (length >= 3) {
                r.mode = out[2] == kReportButtonsAccel ? kReportButtonsAccel : kReportButtons;
                r.lastButtonsSent = -1;
                r.nextDataMs = Now(r);
                if (r.mode == kReportButtonsAccel && !r.scriptStarted) {
                    r.scriptStarted = true;
                    r.scriptZero = Clock::now();
                    Log(r, "start");
                }
            }
            break;
        case kReportStatusRequest:
            SendStatus(r);
            break;
        case kReportMemoryWrite:
            AnswerWrite(r);
            break;
        case kReportMemoryRead:
            AnswerRead(r, out, length);
            break;
        default:
            break;
    }
}

void OnEvent(Remote& r, const uhid_event& ev) {
    switch (ev.type) {
        case UHID_OUTPUT:
            OnOutput(r, ev.u.output.data, ev.u.output.size);
            break;
        case UHID_GET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            SendEvent(r, reply);
            break;
        }
        case UHID_SET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            SendEvent(r, reply);
            break;
        }
        default:
            break;
    }
}

// Takes what the script says is due by script time `t`.
void PlayScript(Remote& r, double t) {
    if (r.nextGap < r.script.gaps.size()) {
        const ScriptGap& gap = r.script.gaps[r.nextGap];
        if (r.present && static_cast<double>(gap.fromMs) <= t) {
            Destroy(r);
        }
        if (!r.present && static_cast<double>(gap.untilMs) <= t) {
            ++r.nextGap;
            Create(r);
        }
    }
    while (r.nextReport < r.script.reports.size() &&
           static_cast<double>(r.script.reports[r.nextReport].timeMs) <= t) {
        const std::vector<uint8_t>& bytes = r.script.reports[r.nextReport].bytes;
        ++r.nextReport;
        if (bytes[0] >= kFirstDataReport && bytes[0] <= kLastDataReport) {
            if (bytes.size() >= 3) {
                r.buttons[0] = bytes[1];
                r.buttons[1] = bytes[2];
            }
            if (bytes[0] == kReportButtonsAccel && bytes.size() >= kButtonsAccelLength) {
                std::memcpy(r.accel, &bytes[3], 3);
            }
            continue;
        }
        SendInput(r, bytes.data(), bytes.size(), true);
        if (bytes[0] == kReportStatus) {
            r.mode = kReportButtons;  // an accessory came or went: data only on change
        }
    }
}

void OnStop(int) {
    stopRequested = 1;
}

// The options after SCRIPT and LOG; false on one it does not know.
bool ParseOptions(Remote& r, int argc, char** argv) {
    for (int i = 3; i < argc; ++i) {
        const char* option = argv[i];
        const char* const battery = "--battery=";
        char* end = nullptr;
        if (std::strcmp(option, "--low-bits=noise") == 0 ||
            std::strcmp(option, "--low-bits=clear") == 0) {
            r.noisyYZ = std::strcmp(option, "--low-bits=noise") == 0;
        } else if (std::strncmp(option, battery, std::strlen(battery)) == 0) {
            const char* level = option + std::strlen(battery);
            const long value = std::strtol(level, &end, 10);
            if (end == level || *end != '\0' || value < 0 || value > 255) {
                return false;
            }
            r.battery = static_cast<uint8_t>(value);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Remote r;
    if (argc < 3 || !ParseOptions(r, argc, argv)) {
        std::fprintf(stderr, "usage: %s SCRIPT LOG [--low-bits=noise|clear] [--battery=0-255]\n",
                     argv[0]);
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    const std::string error = ParseScript(text, r.script);
    r.silent = r.script.reports.empty();
    if (!error.empty() || r.script.absent) {
        std::fprintf(stderr, "%s: %s\n", argv[1],
                     error.empty() ? "absent needs no remote" : error.c_str());
        return 2;
    }
    r.log = std::fopen(argv[2], "w");
    r.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (r.log == nullptr || r.fd < 0) {
        std::perror(r.log == nullptr ? argv[2] : "/dev/uhid");
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    r.createdAt = Clock::now();
    PlayScript(r, 0.0);  // what the remote feels before anyone asks
    if (!Create(r)) {
        std::perror("UHID_CREATE2");
        return 2;
    }
    while (stopRequested == 0) {
        if (r.scriptStarted) {
            PlayScript(r, ScriptNow(r));
        }
        double waitMs = kReportPeriodMs;
        if (r.present && r.mode == kReportButtonsAccel) {
            const double now = Now(r);
            if (now >= r.nextDataMs) {
                SendData(r);
                r.nextDataMs = now - r.nextDataMs > kReportPeriodMs
                                   ? now + kReportPeriodMs
                                   : r.nextDataMs + kReportPeriodMs;
            }
            waitMs = r.nextDataMs - Now(r);
        } else if (r.present) {
            const int pressed = (r.buttons[0] & kButtons1) << 8 | (r.buttons[1] & kButtons2);
            if (pressed != r.lastButtonsSent) {
                SendData(r);
            }
            waitMs = 2.0;
        }
        pollfd p{r.fd, POLLIN, 0};
        const int timeoutMs = waitMs < 1.0 ? 1 : static_cast<int>(waitMs);
        if (poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0) {
            uhid_event ev{};
            if (read(r.fd, &ev, sizeof ev) > 0) {
                OnEvent(r, ev);
            }
        }
    }
    if (r.present) {
        Destroy(r);
    }
    std::fclose(r.log);
    close(r.fd);
    return 0;
}
