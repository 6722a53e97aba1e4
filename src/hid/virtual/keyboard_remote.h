// The keyboard-driven remote's state: which keys hold which buttons, which
// gesture is under way, and the reports and status text that follow from
// them. Pure functions of the state and the time, so they can be tested
// without a terminal; tiny_hid_virtual.cpp drives them from the keyboard.
#pragma once

#include <cstdint>
#include <string>

#include "hid/remote_protocol.h"
#include "hid/virtual/gestures.h"

// A key press holds its button this long: long enough to span several
// reports, short enough to count as one press.
constexpr int64_t kButtonHoldMs = 150;

// A real remote reports every 10 ms in a continuous mode.
constexpr int64_t kReportPeriodMs = 10;

// The line shown before the program starts, naming the keys.
constexpr const char* kKeyHelp =
    "Keys: a = A, h = Home, s = swing, l = long swing, x = hit, Ctrl+C = abort";

enum class KeyAction : uint8_t { None, PressA, PressHome, Swing, LongSwing, Hit, Interrupt, Quit };

struct KeyboardRemote {
    int64_t aHeldUntilMs = 0;     // A is down while the time is before this
    int64_t homeHeldUntilMs = 0;  // likewise Home
    Gesture gesture = Gesture::None;
    int64_t gestureStartMs = 0;
};

// What a byte read from the terminal does. Ctrl+C and Ctrl+\ stand for the
// signals the terminal would have sent outside raw mode; anything else that
// is not a key of the help line does nothing.
KeyAction ActionForKey(uint8_t key);

// Applies every key in bytes[0..length) at nowMs (ms since the remote was
// opened). A new gesture replaces the one under way, as a hand can only make
// one at a time. A terminal's escape sequence (arrow and function keys) ends
// the chunk: its letters are not keys. Returns the first Interrupt or Quit
// met, which also ends the chunk, else None.
KeyAction ApplyKeys(KeyboardRemote& remote, const uint8_t* bytes, int length, int64_t nowMs);

// The second button byte at nowMs.
uint8_t ButtonsAt(const KeyboardRemote& remote, int64_t nowMs);

// Writes report 0x31 for report number `tick`, sent at nowMs, into report
// (at least kButtonsAccelLength bytes), with the accelerometer's low bits in
// the button bytes. Returns its length.
int BuildButtonsAccelReport(const KeyboardRemote& remote, int64_t nowMs, uint32_t tick,
                            uint8_t* report);

// Writes report 0x30 (buttons only) at nowMs. Returns its length.
int BuildButtonsReport(const KeyboardRemote& remote, int64_t nowMs, uint8_t* report);

// The status line: the four player LEDs as the program last set them and the
// rumble, e.g.
// "LEDs [#][#][ ][ ]  rumble ON".
std::string StatusLine(uint8_t leds, bool rumble);
