#include "hid/virtual/gestures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "blade/blade.h"

namespace {

// The program's own motion measure and classes.
int32_t Energy(AccelSample s) {
    return MotionEnergy(s.x, s.y, s.z);
}

// The gesture without tremble, as the program would see it in a report sent
// elapsedMs after the key.
int32_t CleanEnergy(Gesture gesture, int32_t elapsedMs) {
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t dz = 0;
    GestureOffset(gesture, elapsedMs, dx, dy, dz);
    return Energy({static_cast<uint8_t>(kRestX + dx), static_cast<uint8_t>(kRestY + dy),
                   static_cast<uint8_t>(kRestZ + dz)});
}

// Peak energy over every millisecond of the gesture and every tremble.
int32_t PeakEnergy(Gesture gesture) {
    int32_t peak = 0;
    for (int32_t ms = 0; ms < GestureLengthMs(gesture); ++ms) {
        for (uint32_t tick = 0; tick < 50; ++tick) {
            peak = std::max(peak, Energy(AccelAt(gesture, ms, tick)));
        }
    }
    return peak;
}

// Energies of the reports a remote sends every 10 ms through the gesture.
std::vector<int32_t> ReportEnergies(Gesture gesture) {
    std::vector<int32_t> energies;
    for (int32_t ms = 0; ms <= GestureLengthMs(gesture); ms += 10) {
        energies.push_back(CleanEnergy(gesture, ms));
    }
    return energies;
}

// Checks that the energies climb to one peak and come down again, each
// report only a step away from the one before.
void ExpectRisePeakFall(const std::vector<int32_t>& energies, int32_t maxStep) {
    const auto peak = std::max_element(energies.begin(), energies.end());
    ASSERT_GT(peak - energies.begin(), 1) << "the peak must not come in the first report";
    ASSERT_LT(energies.end() - peak, energies.size() - 1);
    for (auto it = energies.begin() + 1; it != energies.end(); ++it) {
        if (it <= peak) {
            EXPECT_GE(*it, *(it - 1))
                << "falls before its peak at report " << it - energies.begin();
        } else {
            EXPECT_LE(*it, *(it - 1)) << "rises after its peak at report " << it - energies.begin();
        }
        EXPECT_LE(std::abs(*it - *(it - 1)), maxStep)
            << "jumps at report " << it - energies.begin();
    }
    EXPECT_EQ(ClassifyMotion(energies.front()), MotionClass::Still);
    EXPECT_EQ(ClassifyMotion(energies.back()), MotionClass::Still);
}

}  // namespace

TEST(Gestures, RestTremblesWithinTheStillBand) {
    uint8_t lowX = 255;
    uint8_t highX = 0;
    for (uint32_t tick = 0; tick < 10'000; ++tick) {
        const AccelSample s = AccelAt(Gesture::None, 0, tick);
        ASSERT_EQ(ClassifyMotion(Energy(s)), MotionClass::Still) << "tick " << tick;
        EXPECT_LE(std::abs(s.x - kRestX), kTrembleCounts);
        EXPECT_LE(std::abs(s.y - kRestY), kTrembleCounts);
        EXPECT_LE(std::abs(s.z - kRestZ), kTrembleCounts);
        lowX = std::min(lowX, s.x);
        highX = std::max(highX, s.x);
    }
    EXPECT_EQ(highX - lowX, 2 * kTrembleCounts) << "rest should tremble over its whole range";
    // Gravity alone on Z: 1 g at rest.
    const AccelSample still = AccelAt(Gesture::Swing, -5, 0);
    EXPECT_NEAR(still.z, 0x9A, kTrembleCounts);
}

TEST(Gestures, SwingPeaksInTheSwingBandAndNeverStrikes) {
    EXPECT_EQ(ClassifyMotion(PeakEnergy(Gesture::Swing)), MotionClass::Swing);
    EXPECT_EQ(GestureLengthMs(Gesture::Swing), 250);
}

TEST(Gestures, SwingRisesPeaksAndFalls) {
    const std::vector<int32_t> energies = ReportEnergies(Gesture::Swing);
    ExpectRisePeakFall(energies, 1500);
    // Long enough in the band for the program to catch it between effects.
    const auto inBand = std::count_if(energies.begin(), energies.end(), [](int32_t e) {
        return ClassifyMotion(e) == MotionClass::Swing;
    });
    EXPECT_GE(inBand, 10);
}

TEST(Gestures, HitRisesIntoTheStrikeBandAndFalls) {
    EXPECT_EQ(ClassifyMotion(PeakEnergy(Gesture::Hit)), MotionClass::Strike);
    const std::vector<int32_t> energies = ReportEnergies(Gesture::Hit);
    ExpectRisePeakFall(energies, 12'000);
    // No single report carries it from rest to a strike.
    const auto firstStrike = std::find_if(energies.begin(), energies.end(), [](int32_t e) {
        return ClassifyMotion(e) == MotionClass::Strike;
    });
    ASSERT_NE(firstStrike, energies.end());
    EXPECT_GE(firstStrike - energies.begin(), 2);
    // Every report of the peak stays a strike despite tremble.
    for (uint32_t tick = 0; tick < 50; ++tick) {
        EXPECT_EQ(ClassifyMotion(Energy(AccelAt(Gesture::Hit, kHitRiseMs, tick))),
                  MotionClass::Strike);
    }
}

TEST(Gestures, LongSwingStaysInTheSwingBandLongEnoughToReplay) {
    const std::vector<int32_t> energies = ReportEnergies(Gesture::LongSwing);
    const auto moving = [](int32_t e) { return ClassifyMotion(e) != MotionClass::Still; };
    const auto first = std::find_if(energies.begin(), energies.end(), moving);
    const auto last = std::find_if(energies.rbegin(), energies.rend(), moving).base();
    ASSERT_LT(first, last);
    for (auto it = first; it != last; ++it) {
        EXPECT_NE(ClassifyMotion(*it), MotionClass::Still)
            << "drops out of the swing at report " << it - first;
    }
    EXPECT_NE(ClassifyMotion(PeakEnergy(Gesture::LongSwing)), MotionClass::Strike);
    // The swing sound replays every 16 loop iterations of at least 10 ms:
    // a second and more of swinging gives several replays.
    EXPECT_GE((last - first) * 10, 1000);
    EXPECT_EQ(ClassifyMotion(energies.front()), MotionClass::Still);
    EXPECT_EQ(ClassifyMotion(energies.back()), MotionClass::Still);
}

TEST(Gestures, NoAxisEverLeavesItsByte) {
    // Clamping would flatten the peak; every reading must fit as it is.
    for (Gesture gesture : {Gesture::Swing, Gesture::LongSwing, Gesture::Hit}) {
        for (int32_t ms = 0; ms < GestureLengthMs(gesture); ++ms) {
            int32_t dx = 0;
            int32_t dy = 0;
            int32_t dz = 0;
            GestureOffset(gesture, ms, dx, dy, dz);
            for (int32_t value : {kRestX + dx, kRestY + dy, kRestZ + dz}) {
                EXPECT_GE(value - kTrembleCounts, 0);
                EXPECT_LE(value + kTrembleCounts, 255);
            }
        }
    }
}

TEST(Gestures, NothingBeforeTheStartOrAfterTheEnd) {
    for (Gesture gesture : {Gesture::None, Gesture::Swing, Gesture::LongSwing, Gesture::Hit}) {
        for (int32_t ms : {-1000, -1, GestureLengthMs(gesture), GestureLengthMs(gesture) + 1000}) {
            int32_t dx = 1;
            int32_t dy = 1;
            int32_t dz = 1;
            GestureOffset(gesture, ms, dx, dy, dz);
            EXPECT_EQ(dx | dy | dz, 0) << static_cast<int>(gesture) << " at " << ms;
        }
    }
}
