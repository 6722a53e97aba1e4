#include "hid/virtual/keyboard_remote.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr uint8_t kCtrlC = 0x03;
constexpr uint8_t kCtrlBackslash = 0x1C;
constexpr uint8_t kEscape = 0x1B;

}  // namespace

KeyAction ActionForKey(uint8_t key) {
    switch (key) {
        case 'a':
            return KeyAction::PressA;
        case 'h':
            return KeyAction::PressHome;
        case 's':
            return KeyAction::Swing;
        case 'l':
            return KeyAction::LongSwing;
        case 'x':
            return KeyAction::Hit;
        case kCtrlC:
            return KeyAction::Interrupt;
        case kCtrlBackslash:
            return KeyAction::Quit;
        default:
            return KeyAction::None;
    }
}

namespace {

void ApplyAction(KeyboardRemote& remote, KeyAction action, int64_t nowMs) {
    const auto start = [&](Gesture gesture) {
        remote.gesture = gesture;
        remote.gestureStartMs = nowMs;
    };
    switch (action) {
        case KeyAction::PressA:
            remote.aHeldUntilMs = nowMs + kButtonHoldMs;
            break;
        case KeyAction::PressHome:
            remote.homeHeldUntilMs = nowMs + kButtonHoldMs;
            break;
        case KeyAction::Swing:
            start(Gesture::Swing);
            break;
        case KeyAction::LongSwing:
            start(Gesture::LongSwing);
            break;
        case KeyAction::Hit:
            start(Gesture::Hit);
            break;
        case KeyAction::None:
        case KeyAction::Interrupt:
        case KeyAction::Quit:
            break;
    }
}

}  // namespace

KeyAction ApplyKeys(KeyboardRemote& remote, const uint8_t* bytes, int length, int64_t nowMs) {
    for (int i = 0; i < length; ++i) {
        if (bytes[i] == kEscape) {
            return KeyAction::None;
        }
        const KeyAction action = ActionForKey(bytes[i]);
        if (action == KeyAction::Interrupt || action == KeyAction::Quit) {
            return action;
        }
        ApplyAction(remote, action, nowMs);
    }
    return KeyAction::None;
}

uint8_t ButtonsAt(const KeyboardRemote& remote, int64_t nowMs) {
    uint8_t buttons = 0;
    if (nowMs < remote.aHeldUntilMs) {
        buttons |= kButtonA;
    }
    if (nowMs < remote.homeHeldUntilMs) {
        buttons |= kButtonHome;
    }
    return buttons;
}

int BuildButtonsAccelReport(const KeyboardRemote& remote, int64_t nowMs, uint32_t tick,
                            uint8_t* report) {
    // A gesture long over stays over, however long the program runs.
    const int64_t elapsedMs = std::min<int64_t>(nowMs - remote.gestureStartMs, INT32_MAX);
    const FineAccelSample accel =
        FineAccelAt(remote.gesture, static_cast<int32_t>(elapsedMs), tick);
    // As a real remote sends them: X's two low bits in bits 5 and 6 of the
    // first button byte (whose D-pad and plus no key drives), bit 1 of Y and
    // of Z in bits 5 and 6 of the second; bit 0 of Y and Z is not sent.
    report[0] = kReportButtonsAccel;
    report[1] = static_cast<uint8_t>((accel.x & 0x3) << 5);
    report[kButtonsByte] = ButtonsAt(remote, nowMs) |
                           static_cast<uint8_t>((accel.y & 0x2) << 4 | (accel.z & 0x2) << 5);
    report[kAccelByte] = static_cast<uint8_t>(accel.x >> 2);
    report[kAccelByte + 1] = static_cast<uint8_t>(accel.y >> 2);
    report[kAccelByte + 2] = static_cast<uint8_t>(accel.z >> 2);
    return kButtonsAccelLength;
}

int BuildButtonsReport(const KeyboardRemote& remote, int64_t nowMs, uint8_t* report) {
    report[0] = kReportButtons;
    report[1] = 0;
    report[kButtonsByte] = ButtonsAt(remote, nowMs);
    return kButtonsLength;
}

std::string StatusLine(uint8_t leds, bool rumble) {
    std::string line = "LEDs ";
    for (int led = 0; led < 4; ++led) {
        line += (leds & (kLed1 << led)) != 0 ? "[#]" : "[ ]";
    }
    line += rumble ? "  rumble ON" : "  rumble off";
    return line;
}
