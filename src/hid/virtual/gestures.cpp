#include "hid/virtual/gestures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Quarter sines from 0 up to 1 and from 1 down to 0: a hand speeds up and
// slows down smoothly, it never jumps from rest to full strength.
double Rise(int32_t elapsedMs, int32_t lengthMs) {
    return std::sin(std::numbers::pi / 2.0 * elapsedMs / lengthMs);
}

double Fall(int32_t elapsedMs, int32_t lengthMs) {
    return std::cos(std::numbers::pi / 2.0 * elapsedMs / lengthMs);
}

double HitStrength(int32_t elapsedMs) {
    if (elapsedMs < kHitRiseMs) {
        return Rise(elapsedMs, kHitRiseMs);
    }
    return Fall(elapsedMs - kHitRiseMs, kHitFallMs);
}

double LongSwingStrength(int32_t elapsedMs) {
    const double wave =
        0.925 + 0.075 * std::cos(2.0 * std::numbers::pi * elapsedMs / kLongSwingWaveMs);
    if (elapsedMs < kLongSwingRiseMs) {
        return wave * Rise(elapsedMs, kLongSwingRiseMs);
    }
    const int32_t fallStart = kLongSwingRiseMs + kLongSwingHoldMs;
    if (elapsedMs < fallStart) {
        return wave;
    }
    return wave * Fall(elapsedMs - fallStart, kLongSwingFallMs);
}

// Tremble of one axis (0 X, 1 Y, 2 Z) in report number `tick`, at full
// resolution: within kTrembleCounts counts either way. The same tick gives the
// same tremble.
int32_t FineTremble(uint32_t tick, int axis) {
    // A small integer hash: cheap, repeatable, and free of visible patterns.
    uint32_t h = tick * 0x9E3779B1u + static_cast<uint32_t>(axis) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    constexpr int32_t kReach = kTrembleCounts * kFinePerCount;
    return static_cast<int32_t>(h % (2 * kReach + 1)) - kReach;
}

uint16_t ToTenBits(int32_t value) {
    return static_cast<uint16_t>(std::clamp(value, 0, 1023));
}

// The gesture's pull on each axis in counts, unrounded.
void GesturePull(Gesture gesture, int32_t elapsedMs, double& x, double& y, double& z) {
    x = 0.0;
    y = 0.0;
    z = 0.0;
    if (elapsedMs < 0 || elapsedMs >= GestureLengthMs(gesture)) {
        return;
    }
    double strength = 0.0;
    int32_t peakX = kSwingPeakX;
    int32_t peakY = kSwingPeakY;
    int32_t peakZ = 0;
    switch (gesture) {
        case Gesture::Swing:
            strength = std::sin(std::numbers::pi * elapsedMs / kSwingMs);
            break;
        case Gesture::LongSwing:
            strength = LongSwingStrength(elapsedMs);
            break;
        case Gesture::Hit:
            strength = HitStrength(elapsedMs);
            peakX = kHitPeakX;
            peakY = kHitPeakY;
            peakZ = kHitPeakZ;
            break;
        case Gesture::None:
            return;
    }
    x = strength * peakX;
    y = strength * peakY;
    z = strength * peakZ;
}

}  // namespace

int32_t GestureLengthMs(Gesture gesture) {
    switch (gesture) {
        case Gesture::Swing:
            return kSwingMs;
        case Gesture::LongSwing:
            return kLongSwingRiseMs + kLongSwingHoldMs + kLongSwingFallMs;
        case Gesture::Hit:
            return kHitRiseMs + kHitFallMs;
        case Gesture::None:
            break;
    }
    return 0;
}

void GestureOffset(Gesture gesture, int32_t elapsedMs, int32_t& dx, int32_t& dy, int32_t& dz) {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    GesturePull(gesture, elapsedMs, x, y, z);
    dx = static_cast<int32_t>(std::lround(x));
    dy = static_cast<int32_t>(std::lround(y));
    dz = static_cast<int32_t>(std::lround(z));
}

FineAccelSample FineAccelAt(Gesture gesture, int32_t elapsedMs, uint32_t tick) {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    GesturePull(gesture, elapsedMs, x, y, z);
    const auto fine = [](double counts) {
        return static_cast<int32_t>(std::lround(counts * kFinePerCount));
    };
    return {ToTenBits(kFineRestX + fine(x) + FineTremble(tick, 0)),
            ToTenBits(kFineRestY + fine(y) + FineTremble(tick, 1)),
            ToTenBits(kFineRestZ + fine(z) + FineTremble(tick, 2))};
}

AccelSample AccelAt(Gesture gesture, int32_t elapsedMs, uint32_t tick) {
    const FineAccelSample fine = FineAccelAt(gesture, elapsedMs, tick);
    return {static_cast<uint8_t>(fine.x / kFinePerCount),
            static_cast<uint8_t>(fine.y / kFinePerCount),
            static_cast<uint8_t>(fine.z / kFinePerCount)};
}
