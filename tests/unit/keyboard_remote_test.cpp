#include "hid/virtual/keyboard_remote.h"

#include <gtest/gtest.h>

#include <string_view>

#include "blade/blade.h"

namespace {

KeyAction Type(KeyboardRemote& remote, std::string_view keys, int64_t nowMs) {
    return ApplyKeys(remote, reinterpret_cast<const uint8_t*>(keys.data()),
                     static_cast<int>(keys.size()), nowMs);
}

// How the program classes the motion of the report sent at nowMs.
MotionClass ReportMotion(const KeyboardRemote& remote, int64_t nowMs) {
    uint8_t report[kButtonsAccelLength];
    BuildButtonsAccelReport(remote, nowMs, 0, report);
    return ClassifyMotion(
        MotionEnergy(report[kAccelByte], report[kAccelByte + 1], report[kAccelByte + 2]));
}

}  // namespace

TEST(KeyboardRemote, KeysOfTheHelpLineAndNothingElse) {
    EXPECT_EQ(ActionForKey('a'), KeyAction::PressA);
    EXPECT_EQ(ActionForKey('h'), KeyAction::PressHome);
    EXPECT_EQ(ActionForKey('s'), KeyAction::Swing);
    EXPECT_EQ(ActionForKey('l'), KeyAction::LongSwing);
    EXPECT_EQ(ActionForKey('x'), KeyAction::Hit);
    EXPECT_EQ(ActionForKey(0x03), KeyAction::Interrupt);
    EXPECT_EQ(ActionForKey(0x1C), KeyAction::Quit);
    // Capitals end arrow-key sequences ("ESC [ A"); they must not press A.
    for (int key :
         {int{'A'}, int{'H'}, int{'S'}, int{'X'}, int{' '}, int{'\r'}, 0x00, 0x1B, 0x7F, 0xFF}) {
        EXPECT_EQ(ActionForKey(static_cast<uint8_t>(key)), KeyAction::None) << key;
    }
}

TEST(KeyboardRemote, AButtonAndHomeAreHeldForAShortPress) {
    KeyboardRemote remote;
    EXPECT_EQ(ButtonsAt(remote, 0), 0);
    EXPECT_EQ(Type(remote, "a", 1000), KeyAction::None);
    EXPECT_EQ(ButtonsAt(remote, 1000), kButtonA);
    EXPECT_EQ(ButtonsAt(remote, 1000 + kButtonHoldMs - 1), kButtonA);
    EXPECT_EQ(ButtonsAt(remote, 1000 + kButtonHoldMs), 0);

    Type(remote, "h", 2000);
    EXPECT_EQ(ButtonsAt(remote, 2010), kButtonHome);
    EXPECT_EQ(ButtonsAt(remote, 2000 + kButtonHoldMs), 0);

    // Both at once give the whole byte 0x88, which the program ignores, as
    // it would on a real remote.
    Type(remote, "ah", 3000);
    EXPECT_EQ(ButtonsAt(remote, 3010), kButtonA | kButtonHome);
}

TEST(KeyboardRemote, ReportsCarryButtonsInTheSecondByteAndMotionAfter) {
    KeyboardRemote remote;
    Type(remote, "a", 0);
    uint8_t report[kButtonsAccelLength] = {};
    ASSERT_EQ(BuildButtonsAccelReport(remote, 20, 7, report), 6);
    EXPECT_EQ(report[0], 0x31);
    EXPECT_EQ(report[1], 0x00);
    EXPECT_EQ(report[2], 0x08);
    const AccelSample rest = AccelAt(Gesture::None, 0, 7);
    EXPECT_EQ(report[3], rest.x);
    EXPECT_EQ(report[4], rest.y);
    EXPECT_EQ(report[5], rest.z);

    uint8_t buttons[kButtonsLength] = {};
    Type(remote, "h", 200);
    ASSERT_EQ(BuildButtonsReport(remote, 210, buttons), 3);
    EXPECT_EQ(buttons[0], 0x30);
    EXPECT_EQ(buttons[2], 0x80);
}

// Decoded as the Linux kernel's driver does, the reports give back the full
// 10-bit readings (bit 0 of Y and Z is not sent), and the buttons stay apart.
TEST(KeyboardRemote, ReportsCarryTheAccelerometersLowBitsWhereARealRemoteDoes) {
    KeyboardRemote remote;
    Type(remote, "a", 0);
    Type(remote, "x", 0);
    uint8_t seen = 0;  // every accelerometer bit of the button bytes, set at least once
    for (uint32_t tick = 0; tick < 200; ++tick) {
        const int64_t nowMs = tick * kReportPeriodMs;
        uint8_t r[kButtonsAccelLength];
        BuildButtonsAccelReport(remote, nowMs, tick, r);
        const int x = r[3] << 2 | (r[1] >> 5 & 0x3);
        const int y = r[4] << 2 | (r[2] >> 4 & 0x2);
        const int z = r[5] << 2 | (r[2] >> 5 & 0x2);
        const FineAccelSample fine = FineAccelAt(remote.gesture, static_cast<int32_t>(nowMs), tick);
        ASSERT_EQ(x, fine.x) << "tick " << tick;
        ASSERT_EQ(y, fine.y & ~1) << "tick " << tick;
        ASSERT_EQ(z, fine.z & ~1) << "tick " << tick;
        ASSERT_EQ(r[1] & ~0x60, 0);
        ASSERT_EQ(r[2] & ~kButtonsAccelBits, ButtonsAt(remote, nowMs));
        seen |= (r[1] & 0x60) >> 4 | (r[2] & 0x60);  // X's in bits 1-2, Y's and Z's in 5-6
    }
    EXPECT_EQ(seen, 0x66) << "the low bits should follow the motion and the tremble";
}

TEST(KeyboardRemote, GestureKeysMoveTheRemoteFromTheKeyOn) {
    KeyboardRemote remote;
    Type(remote, "s", 5000);
    EXPECT_EQ(ReportMotion(remote, 4990), MotionClass::Still);
    EXPECT_EQ(ReportMotion(remote, 5000 + kSwingMs / 2), MotionClass::Swing);
    EXPECT_EQ(ReportMotion(remote, 5000 + kSwingMs), MotionClass::Still);

    // A hit in the middle of a swing takes over: a hand makes one motion.
    Type(remote, "s", 6000);
    Type(remote, "x", 6100);
    EXPECT_EQ(ReportMotion(remote, 6100 + kHitRiseMs), MotionClass::Strike);
    EXPECT_EQ(ReportMotion(remote, 6100 + kHitRiseMs + kHitFallMs), MotionClass::Still);

    // Long after the hit the remote rests, however long the program has run.
    EXPECT_EQ(ReportMotion(remote, 6100 + (int64_t{1} << 40)), MotionClass::Still);

    Type(remote, "l", 10'000);
    EXPECT_EQ(ReportMotion(remote, 11'000), MotionClass::Swing);
}

TEST(KeyboardRemote, EscapeSequencesAndCtrlKeysEndTheChunk) {
    KeyboardRemote remote;
    // Arrow left, then what looks like keys: part of the sequence, not keys.
    EXPECT_EQ(Type(remote, "\x1b[Dxa", 0), KeyAction::None);
    EXPECT_EQ(ButtonsAt(remote, 10), 0);
    EXPECT_EQ(remote.gesture, Gesture::None);

    // Keys before Ctrl+C count, keys after it do not: the process is ending.
    EXPECT_EQ(Type(remote,
                   "s\x03"
                   "a",
                   100),
              KeyAction::Interrupt);
    EXPECT_EQ(remote.gesture, Gesture::Swing);
    EXPECT_EQ(ButtonsAt(remote, 110), 0);
    EXPECT_EQ(Type(remote, "\x1c", 200), KeyAction::Quit);
}

TEST(KeyboardRemote, StatusLineShowsEachLedAndTheRumble) {
    EXPECT_EQ(StatusLine(0x00, false), "LEDs [ ][ ][ ][ ]  rumble off");
    EXPECT_EQ(StatusLine(0x30, true), "LEDs [#][#][ ][ ]  rumble ON");
    EXPECT_EQ(StatusLine(0xF0, true), "LEDs [#][#][#][#]  rumble ON");
    // LED 4 alone, and the low nibble, which holds no LED.
    EXPECT_EQ(StatusLine(0x8F, false), "LEDs [ ][ ][ ][#]  rumble off");
}
