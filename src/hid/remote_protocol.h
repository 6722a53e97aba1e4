// What the Wii Remote understands: its identifiers, the reports the program
// exchanges with it and the values inside them. Facts of the device, not
// tunables, in one place for the remote link, every tiny_hid library and the
// tests, so that a scripted or keyboard-driven remote speaks exactly as a
// real one.
#pragma once

#include <cstdint>

// USB/Bluetooth identifiers.
constexpr int32_t kRemoteVendorId = 0x057E;
constexpr int32_t kRemoteProductId = 0x0306;      // the original remote
constexpr int32_t kRemotePlusProductId = 0x0330;  // the Wii Remote Plus

// Output reports, host to remote, by identifier.
constexpr uint8_t kReportRumbleOnly = 0x10;
constexpr uint8_t kReportLeds = 0x11;  // player LEDs
constexpr uint8_t kReportMode = 0x12;  // data reporting mode: flags, mode
constexpr uint8_t kReportIrClock = 0x13;
constexpr uint8_t kReportSpeakerEnable = 0x14;
constexpr uint8_t kReportStatusRequest = 0x15;
constexpr uint8_t kReportMemoryWrite = 0x16;  // address, size, 16 data bytes
constexpr uint8_t kReportMemoryRead = 0x17;   // address, size
constexpr uint8_t kReportSpeakerData = 0x18;
constexpr uint8_t kReportSpeakerMute = 0x19;
constexpr uint8_t kReportIrEnable = 0x1A;

// Bit 0 of every output report's first data byte drives the rumble motor.
// The program switches it with report 0x13, whose other bit (the IR camera's
// clock) it leaves off.
constexpr uint8_t kRumbleBit = 0x01;
constexpr uint8_t kReportRumble = kReportIrClock;

// Length in bytes of output report `id`, identifier included, or 0 for an
// identifier the remote does not take.
constexpr int OutputReportLength(uint8_t id) {
    switch (id) {
        case kReportMode:
            return 3;
        case kReportRumbleOnly:
        case kReportLeds:
        case kReportIrClock:
        case kReportSpeakerEnable:
        case kReportStatusRequest:
        case kReportSpeakerMute:
        case kReportIrEnable:
            return 2;
        case kReportMemoryWrite:
        case kReportSpeakerData:
            return 22;
        case kReportMemoryRead:
            return 7;
        default:
            return 0;
    }
}

// Player LEDs, the high nibble of report 0x11: bit 4 is LED 1 ... bit 7 LED 4.
constexpr uint8_t kLed1 = 0x10;
constexpr uint8_t kLed2 = 0x20;
constexpr uint8_t kLed3 = 0x40;
constexpr uint8_t kLed4 = 0x80;
constexpr uint8_t kLedsNone = 0x00;
constexpr uint8_t kLeds1 = kLed1;
constexpr uint8_t kLeds12 = kLed1 | kLed2;
constexpr uint8_t kLeds123 = kLed1 | kLed2 | kLed3;
constexpr uint8_t kLedsAll = kLed1 | kLed2 | kLed3 | kLed4;

// LEDs 1 to n lit, the rest dark (n from 0 to 4).
constexpr uint8_t LedsUpTo(int n) {
    return static_cast<uint8_t>(((1u << n) - 1u) << 4);
}
static_assert(LedsUpTo(0) == kLedsNone && LedsUpTo(2) == kLeds12 && LedsUpTo(4) == kLedsAll);

// Input reports, remote to host, by identifier. The remote sends a status
// report when an accessory comes or goes and then no data reports (0x30 to
// 0x3F) until it is given a reporting mode again.
constexpr uint8_t kReportStatus = 0x20;
constexpr uint8_t kReportMemoryData = 0x21;    // answers a memory read
constexpr uint8_t kReportAcknowledge = 0x22;   // answers a memory write (and others)
constexpr uint8_t kReportButtons = 0x30;       // core buttons
constexpr uint8_t kReportButtonsAccel = 0x31;  // core buttons and accelerometer
constexpr uint8_t kFirstDataReport = 0x30;
constexpr uint8_t kLastDataReport = 0x3F;

// A report that happens once and says what data reports cannot: the mode is
// gone (status), or another writer has just written (its answer).
constexpr bool IsAnswerReport(uint8_t id) {
    return id == kReportStatus || id == kReportMemoryData || id == kReportAcknowledge;
}

// A status report as the remote sends it when an accessory comes or goes: no
// buttons, no flags, battery 0xC8.
constexpr uint8_t kStatusBattery = 0xC8;
constexpr uint8_t kAccessoryStatusReport[] = {kReportStatus, 0x00, 0x00,          0x00,
                                              0x00,          0x00, kStatusBattery};

// Where a status report keeps its facts: the flags byte, whose high nibble
// shows the player LEDs lit (as report 0x11 sets them), and the battery level.
constexpr int kStatusFlagsByte = 3;
constexpr int kStatusBatteryByte = 6;
constexpr uint8_t kStatusLedsMask = 0xF0;

// The battery level of a status report in percent, as the kernel's driver
// reports it in sysfs: level * 100 / 255, rounded down.
constexpr int32_t BatteryPercent(uint8_t level) {
    return int32_t{level} * 100 / 255;
}
static_assert(BatteryPercent(0xFF) == 100 && BatteryPercent(kStatusBattery) == 78 &&
              BatteryPercent(0x19) == 9);

// Length in bytes of input report `id` as the remote sends it, identifier
// included, or 0 for an identifier it does not send. Windows hands every
// report over at the interface's longest input length; the rest is padding.
constexpr int InputReportLength(uint8_t id) {
    switch (id) {
        case 0x20:  // status
            return 7;
        case 0x21:  // memory read data
            return 22;
        case 0x22:  // acknowledgement of an output report
            return 5;
        case 0x30:  // core buttons
            return 3;
        case 0x31:  // buttons, accelerometer
            return 6;
        case 0x32:  // buttons, 8 extension bytes
            return 11;
        case 0x33:  // buttons, accelerometer, 12 IR bytes
            return 18;
        default:  // 0x34 to 0x3F: 21 bytes of data
            return id >= 0x34 && id <= 0x3F ? 22 : 0;
    }
}

// Report 0x22 names the output report it answers in this byte (then an
// error code).
constexpr int kAcknowledgedReportByte = 3;

// Length of a whole data report of a mode that starts with the core buttons
// (0x30 to 0x37), or 0 for any other identifier: only a whole one shows the
// remote's mode.
constexpr int ButtonsDataReportLength(uint8_t id) {
    return id >= kReportButtons && id <= 0x37 ? InputReportLength(id) : 0;
}

// Where the fields sit in reports 0x30 and 0x31, and the shortest report that
// carries them, identifier included.
constexpr int kButtonsByte = 2;  // the second button byte; byte 1 holds the D-pad and plus
constexpr int kAccelByte = 3;    // X, then Y and Z
constexpr int kButtonsLength = 3;
constexpr int kButtonsAccelLength = 6;

// Values of the second button byte. The program acts on A or Home alone:
// together with any other button they are deliberately ignored.
constexpr uint8_t kButtonA = 0x08;
constexpr uint8_t kButtonHome = 0x80;

// Every button, by the byte of a data report that carries it (1 or 2) and
// its bit there, with the name printed on the remote.
struct ButtonBit {
    int byte;
    uint8_t mask;
    const char* name;
};
constexpr ButtonBit kButtonBits[] = {
    {1, 0x01, "left"},  {1, 0x02, "right"}, {1, 0x04, "down"},        {1, 0x08, "up"},
    {1, 0x10, "+"},     {2, 0x01, "2"},     {2, 0x02, "1"},           {2, 0x04, "B"},
    {2, kButtonA, "A"}, {2, 0x10, "-"},     {2, kButtonHome, "Home"},
};

// Bits 5 and 6 of the second button byte are no buttons: in report 0x31 they
// carry bit 1 of the Y and of the Z acceleration (bits 5 and 6 of the first
// button byte carry X's two low bits), so they change with how the remote is
// held. A and Home are compared with them masked off.
constexpr uint8_t kButtonsAccelBits = 0x60;

// The data reporting mode the program sets at start-up: no flags, core
// buttons and accelerometer.
constexpr uint8_t kReportModeFlags = 0x00;
constexpr uint8_t kReportModeCoreAccel = kReportButtonsAccel;
