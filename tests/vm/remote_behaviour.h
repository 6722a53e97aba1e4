// What the VM suite's Wii Remotes do, whatever carries their reports (uhid,
// or Bluetooth): they answer and report as a remote does, play a scripted
// remote's script and log every event in the scripted remote's log format,
// so that the same checks read them all.
//
// The script (src/hid/scripted/script.h) starts when the remote is first
// given report mode 0x31, as the program does right after opening it. Its
// data reports set what the remote feels (buttons, accelerometer); the remote
// reports that in the mode last set: 0x31 every 10 ms, 0x30 only when the
// buttons change. Other reports go out as they are, at their time. `gone A-B`
// drops the link and brings it back; `product` picks the product id;
// `accessory` sends its status report and leaves the remote in mode 0x30
// until the mode is set again.
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
// The log gets one line per event, in ms since the remote began:
//   <t> create 057e 0306      the remote is there (again, after a `gone`)
//   <t> destroy 057e 0306     it is gone
//   <t> start                 the script's clock starts (first mode 0x31)
//   <t> write <bytes>         an output report, from the program or the kernel
//                             (less zeros a stack padded it with)
//   <t> input <bytes>         a report the remote sends other than data
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hid/remote_protocol.h"
#include "hid/scripted/script.h"

// The remote's HID report descriptor: every report is a run of vendor-defined
// bytes, the identifier not counted.
std::vector<uint8_t> RemoteReportDescriptor();

// What carries the remote's reports to the host.
class RemoteCarrier {
public:
    virtual ~RemoteCarrier() = default;
    // An input report, identifier first.
    virtual void Send(const uint8_t* report, size_t length) = 0;
    // The link goes, as when the remote is switched off ...
    virtual void Drop() = 0;
    // ... and, the script says, comes back.
    virtual void Return() = 0;
};

class RemoteBehaviour {
public:
    // Takes one of the shared options (--low-bits=noise|clear,
    // --battery=0-255); false if `option` is none of them or is malformed.
    bool TakeOption(const char* option);
    // Reads and parses the script at `path`; "" or what is wrong.
    std::string LoadScript(const char* path);
    // Opens the log at `path`; the remote's clock starts here.
    bool OpenLog(const char* path);

    int32_t ProductId() const {
        return script_.productId;
    }
    const char* Name() const;
    bool Present() const {
        return present_;
    }

    // The carrier tells the remote when its link came and went.
    void Connected();
    void Disconnected();
    // An output report from the host, identifier first; answers go out
    // through `carrier`.
    void OnOutput(RemoteCarrier& carrier, const uint8_t* out, size_t length);
    // What the remote feels before anyone asks: once, before it connects.
    void Prepare(RemoteCarrier& carrier);
    // Plays what the script has due and sends the data reports that are due,
    // through `carrier`; returns the ms until something is due again.
    double Run(RemoteCarrier& carrier);

    void CloseLog();

private:
    using Clock = std::chrono::steady_clock;
    double Now() const;
    void Log(const std::string& line) const;
    std::string Ids() const;
    void Send(RemoteCarrier& carrier, const uint8_t* bytes, size_t length, bool logged);
    void SendData(RemoteCarrier& carrier);
    void SendStatus(RemoteCarrier& carrier);
    void AnswerRead(RemoteCarrier& carrier, const uint8_t* out, size_t length);
    void AnswerWrite(RemoteCarrier& carrier);
    void PlayScript(RemoteCarrier& carrier, double t);
    uint32_t NextNoise();

    FILE* log_ = nullptr;
    Script script_;
    bool noisyYZ_ = true;
    bool silent_ = false;
    uint8_t battery_ = kStatusBattery;
    Clock::time_point createdAt_;
    bool scriptStarted_ = false;
    Clock::time_point scriptZero_;
    size_t nextReport_ = 0;
    size_t nextGap_ = 0;
    bool present_ = false;
    bool dropped_ = false;  // by the script, until its gap ends
    // What the remote feels and does.
    uint8_t buttons_[2] = {0, 0};
    uint8_t accel_[3] = {0x80, 0x80, 0x80};
    uint8_t mode_ = kReportButtons;
    bool rumble_ = false;
    uint8_t leds_ = 0;
    int lastButtonsSent_ = -1;
    double nextDataMs_ = 0;
    uint32_t noise_ = 12345;
};
