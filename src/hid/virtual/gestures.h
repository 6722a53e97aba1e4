// What the keyboard-driven remote's accelerometer reads: at rest, and through
// each gesture a key starts. Pure functions of time, so the gestures can be
// checked against the program's motion bands without a terminal.
#pragma once

#include <cstdint>

enum class Gesture : uint8_t { None, Swing, LongSwing, Hit };

// One accelerometer sample, as the remote reports it.
struct AccelSample {
    uint8_t x;
    uint8_t y;
    uint8_t z;
};

// The same at the accelerometer's full 10 bits (0..1023). The bytes of a
// report are the upper 8 bits; a real remote sends some of the low ones in
// its button bytes.
struct FineAccelSample {
    uint16_t x;
    uint16_t y;
    uint16_t z;
};

// A count of a byte is this many at full resolution.
constexpr int32_t kFinePerCount = 4;

// At rest the remote lies level: 1 g pulls on Z, nothing on X and Y.
constexpr uint8_t kRestX = 0x80;
constexpr uint8_t kRestY = 0x80;
constexpr uint8_t kRestZ = 0x9A;

// Rest at full resolution: a real remote's resting values rarely sit on a
// byte's edge.
constexpr int32_t kFineRestX = 0x203;
constexpr int32_t kFineRestY = 0x202;
constexpr int32_t kFineRestZ = 0x268;
static_assert(kFineRestX / kFinePerCount == kRestX && kFineRestY / kFinePerCount == kRestY &&
              kFineRestZ / kFinePerCount == kRestZ);

// A hand never holds perfectly still: each axis trembles by up to this many
// counts, far below the swing band.
constexpr int32_t kTrembleCounts = 2;

// A swing sweeps mostly along X with some Y. At its peak the squared distance
// from rest (gravity included) is about 8400, mid-way through the swing band,
// so tremble can push it out of the band on neither side.
constexpr int32_t kSwingPeakX = 72;
constexpr int32_t kSwingPeakY = 50;
constexpr int32_t kSwingMs = 250;  // a half-sine: rise, peak, fall

// A long swing waves back and forth at 85..100 % of a swing's strength, never
// dropping out of the swing band, long enough for the swing sound to re-play a
// few times.
constexpr int32_t kLongSwingRiseMs = 80;
constexpr int32_t kLongSwingHoldMs = 1500;
constexpr int32_t kLongSwingFallMs = 100;
constexpr int32_t kLongSwingWaveMs = 300;  // one back-and-forth of the hand

// A hit is a fast swing stopped dead: a steep rise to a peak of about 25000,
// well inside the strike band, then a slightly slower fall. Every axis takes
// part, and each stays inside a byte.
constexpr int32_t kHitPeakX = -110;
constexpr int32_t kHitPeakY = 100;
constexpr int32_t kHitPeakZ = -80;
constexpr int32_t kHitRiseMs = 40;
constexpr int32_t kHitFallMs = 60;

// How long the gesture lasts; 0 for None.
int32_t GestureLengthMs(Gesture gesture);

// The gesture's pull on each axis, in counts from rest, elapsedMs after it
// started. Nothing before its start or after its end.
void GestureOffset(Gesture gesture, int32_t elapsedMs, int32_t& dx, int32_t& dy, int32_t& dz);

// The reading of report number `tick` at full resolution: rest plus the
// gesture plus tremble, held inside 10 bits.
FineAccelSample FineAccelAt(Gesture gesture, int32_t elapsedMs, uint32_t tick);

// Its upper 8 bits, as the accelerometer bytes carry them.
AccelSample AccelAt(Gesture gesture, int32_t elapsedMs, uint32_t tick);
