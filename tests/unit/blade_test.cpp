#include "blade/blade.h"

#include <gtest/gtest.h>

#include "config.h"
#include "fake_counter.h"
#include "fake_remote_link.h"
#include "remote/remote_link.h"

namespace {

constexpr FakeReport kRest{0x00, 0x80, 0x80, 0x9A};   // 1 g on Z: still
constexpr FakeReport kSwing{0x00, 0xBC, 0x80, 0x80};  // energy 3600
constexpr FakeReport kHit{0x00, 0xFF, 0x80, 0x80};    // energy 16129
constexpr FakeReport kA{0x08, 0x80, 0x80, 0x9A};
constexpr FakeReport kHome{0x80, 0x80, 0x80, 0x9A};

class Session {
public:
    Session& Then(FakeReport report, int times = 1) {
        for (int i = 0; i < times; ++i) {
            reports.push_back(report);
        }
        return *this;
    }
    // Index (0-based) of the next report: the iteration it will be read in.
    size_t Next() const {
        return reports.size();
    }
    void Run() {
        ResetFakeCounter();
        ResetFakeRemoteLink();
        fakeReports = reports;
        RunBlade();
        ASSERT_FALSE(fakeReportsRanOut) << "the loop did not end at Home";
    }

private:
    std::vector<FakeReport> reports;
};

std::vector<std::string> Texts(const std::vector<RemoteCall>& calls) {
    std::vector<std::string> texts;
    for (const RemoteCall& call : calls) {
        texts.push_back(call.what);
    }
    return texts;
}

std::vector<std::string> Outputs() {
    std::vector<std::string> texts;
    for (const RemoteCall& call : remoteCalls) {
        if (call.what.rfind("poll", 0) != 0) {
            texts.push_back(call.what);
        }
    }
    return texts;
}

// Virtual time from calls[from] to calls[to].
double Gap(const std::vector<RemoteCall>& calls, size_t from, size_t to) {
    return calls.at(to).ms - calls.at(from).ms;
}

// Busy waits end strictly after their time, and within a tick of virtual time.
void ExpectWaited(double gapMs, int32_t waitMs) {
    EXPECT_GT(gapMs, waitMs);
    EXPECT_LT(gapMs, waitMs + 0.5);
}

// The sound starts first and plays on under the sweep.
const std::vector<std::string> kIgnite = {"sound on", "leds 10",   "leds 30",  "leds 70",
                                          "leds f0",  "rumble 01", "rumble 00"};
const std::vector<std::string> kRetract = {"sound off", "leds 70",   "leds 30",  "leds 10",
                                           "leds 00",   "rumble 01", "rumble 00"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A lit blade ready for motion: A, then rest until ignition has run out.
// Motion is first acted on in the 80th iteration counting A's own as the
// first, so the returned session's next report is that 80th iteration.
Session LitAndReady() {
    Session s;
    s.Then(kA).Then(kRest, kIgnitionIterations - 2);
    return s;
}

}  // namespace

TEST(MotionClass, EnergyIsSquaredDistanceFromRest) {
    EXPECT_EQ(MotionEnergy(128, 128, 128), 0);
    EXPECT_EQ(MotionEnergy(0, 0, 0), 49152);
    EXPECT_EQ(MotionEnergy(255, 255, 255), 3 * 127 * 127);
    EXPECT_EQ(MotionEnergy(138, 118, 131), 100 + 100 + 9);
}

TEST(MotionClass, BandEdges) {
    EXPECT_EQ(ClassifyMotion(0), MotionClass::Still);
    EXPECT_EQ(ClassifyMotion(2999), MotionClass::Still);
    EXPECT_EQ(ClassifyMotion(3000), MotionClass::Swing);
    EXPECT_EQ(ClassifyMotion(14999), MotionClass::Swing);
    EXPECT_EQ(ClassifyMotion(15000), MotionClass::Strike);
    EXPECT_EQ(ClassifyMotion(MotionEnergy(0, 0, 0)), MotionClass::Strike);
}

TEST(BladeEffects, IgniteSweepsUpAndRetractSweepsDownWithTimedSteps) {
    Session s;
    s.Then(kA).Then(kRest, 3).Then(kA).Then(kHome);
    s.Run();
    EXPECT_EQ(Outputs(), Join(kIgnite, kRetract));

    const std::vector<RemoteCall> out = CallsStartingWith("leds");
    const std::vector<RemoteCall> rumble = CallsStartingWith("rumble");
    for (size_t step = 0; step < 3; ++step) {
        ExpectWaited(Gap(out, step, step + 1), kLedStepMs);
        ExpectWaited(Gap(out, step + 4, step + 5), kLedStepMs);
    }
    // The rumble starts with the last LED pattern and lasts its pulse.
    EXPECT_LT(rumble[0].ms - out[3].ms, 0.5);
    ExpectWaited(Gap(rumble, 0, 1), kEffectRumbleMs);
    EXPECT_GT(Gap(rumble, 2, 3), kEffectRumbleMs);
}

// The loop's pace is the remote's: each report is read as it arrives, early
// or late, but never sooner than the shortest iteration after the last read,
// so the reports of a burst are read that far apart.
TEST(BladeEffects, EachReportIsReadAsItArrivesButNoSoonerThanAnIterationAfterTheLast) {
    const double m = kMinIterationMs;
    const struct {
        const char* remote;
        std::vector<double> dueMs;  // of the reports at rest; Home comes last, with the last
        std::vector<double> readMs;
    } cases[] = {
        {"every 10 ms, a little early or late", {0, 9, 20, 31, 40}, {0, 9, 20, 31, 40, 40 + m}},
        {"a burst after a stall", {0, 50, 50, 50}, {0, 50, 50 + m, 50 + 2 * m, 50 + 3 * m}},
    };
    for (const auto& c : cases) {
        Session s;
        for (const double due : c.dueMs) {
            s.Then(FakeReport{kRest.buttons, kRest.accelX, kRest.accelY, kRest.accelZ, due});
        }
        s.Then(FakeReport{kHome.buttons, kHome.accelX, kHome.accelY, kHome.accelZ, c.dueMs.back()});
        s.Run();
        const std::vector<RemoteCall> polls = CallsStartingWith("poll");
        ASSERT_EQ(polls.size(), c.readMs.size()) << c.remote;
        for (size_t i = 0; i < polls.size(); ++i) {
            EXPECT_GE(polls[i].ms, c.readMs[i]) << c.remote << ", report " << i;
            EXPECT_LT(polls[i].ms, c.readMs[i] + 0.5) << c.remote << ", report " << i;
        }
    }
}

TEST(BladeButtons, AIsLevelTriggeredSoAHeldTwoReportsLightsAndDarkens) {
    Session s;
    s.Then(kA, 2).Then(kHome);
    s.Run();
    EXPECT_EQ(Outputs(), Join(kIgnite, kRetract));
}

TEST(BladeButtons, AOrHomeWithAnotherButtonDoesNothing) {
    Session s;
    for (const uint8_t buttons : {0x88, 0x0C, 0x18, 0x09, 0x81, 0x90}) {
        s.Then(FakeReport{buttons, 0x80, 0x80, 0x9A});
    }
    s.Then(kHome);
    s.Run();
    EXPECT_TRUE(Outputs().empty());
    EXPECT_EQ(fakePolls, 7u);
}

// A real remote sends bit 1 of Y and of Z in bits 5 and 6 of the button byte,
// as it is held: under all four values A and Home work, and stay alone.
TEST(BladeButtons, AccelerometerBitsInTheButtonByteChangeNothing) {
    for (const uint8_t bits : {0x00, 0x20, 0x40, 0x60}) {
        const auto with = [bits](uint8_t buttons) {
            return FakeReport{static_cast<uint8_t>(buttons | bits), 0x80, 0x80, 0x9A};
        };
        Session s;
        for (const uint8_t other : {0x04, 0x02, 0x01, 0x10}) {  // B, 1, 2, minus
            s.Then(with(kButtonA | other));
        }
        // Held for two reports, A lights and darkens; once more, it lights.
        s.Then(with(0x00)).Then(with(kButtonA), 3).Then(with(0x00)).Then(with(kButtonHome));
        s.Run();
        EXPECT_EQ(Outputs(), Join(Join(kIgnite, kRetract), Join(kIgnite, kRetract)))
            << "bits " << int{bits};
        EXPECT_EQ(remoteState.buttons, kButtonHome | bits) << "the byte as the remote sent it";
    }
}

TEST(BladeButtons, HomeWhileDarkReturnsAtOnce) {
    Session s;
    s.Then(kRest, 2).Then(kHome);
    s.Run();
    EXPECT_TRUE(Outputs().empty());
    // Nothing is waited for after the Home iteration.
    EXPECT_LT(FakeNowMs() - CallsStartingWith("poll").back().ms, 0.5);
}

TEST(BladeButtons, HomeWhileLitRetractsAndPausesBeforeReturning) {
    Session s = LitAndReady();
    s.Then(kHome);
    s.Run();
    EXPECT_EQ(Outputs(), Join(kIgnite, kRetract));
    ExpectWaited(FakeNowMs() - CallsStartingWith("rumble").back().ms, kQuitPauseMs);
}

TEST(BladeMotion, StrikeWhileSwingingPulsesRumbleFor200Ms) {
    Session s = LitAndReady();
    s.Then(kSwing).Then(kHit).Then(kRest, 3).Then(kA).Then(kHome);
    s.Run();
    EXPECT_EQ(
        Outputs(),
        Join(Join(kIgnite, {"sound swing", "sound strike", "rumble 01", "rumble 00"}), kRetract));
    ExpectWaited(Gap(CallsStartingWith("rumble"), 2, 3), kStrikeRumbleMs);
}

TEST(BladeMotion, StrikeFromReadyHasNoPulse) {
    Session s = LitAndReady();
    s.Then(kHit).Then(kRest, 25).Then(kHit).Then(kA).Then(kHome);
    s.Run();
    EXPECT_EQ(Outputs(), Join(Join(kIgnite, {"sound strike", "sound strike"}), kRetract));
}

// The strike pulse shows whether a swing was taken: only a blade that is
// Swinging pulses on a hit.
TEST(BladeMotion, MotionIsFirstActedOnInTheEightiethIteration) {
    Session early;
    early.Then(kA)
        .Then(kRest, kIgnitionIterations - 3)
        .Then(kSwing)
        .Then(kHit)
        .Then(kA)
        .Then(kHome);
    early.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 4u) << "a swing in iteration 79 counted";

    Session onTime = LitAndReady();
    onTime.Then(kSwing).Then(kHit).Then(kA).Then(kHome);
    onTime.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 6u) << "a swing in iteration 80 was ignored";
}

// A hit in the iteration where the window runs out still finds the blade
// swinging: the swing block handles motion after its own count-down.
TEST(BladeMotion, SwingWindowLastsTwentyIterations) {
    Session inside = LitAndReady();
    inside.Then(kSwing).Then(kRest, kMotionWindow - 2).Then(kHit).Then(kA).Then(kHome);
    inside.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 6u) << "swing window closed too early";

    Session after = LitAndReady();
    after.Then(kSwing).Then(kRest, kMotionWindow - 1).Then(kHit).Then(kA).Then(kHome);
    after.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 4u) << "swing window stayed open too long";
}

TEST(BladeMotion, MotionIsIgnoredForTwentyIterationsAfterAStrike) {
    // Swing then hit: a strike with its pulse, in iteration 81.
    Session ignored = LitAndReady();
    ignored.Then(kSwing)
        .Then(kHit)
        .Then(kRest, kMotionWindow - 2)
        .Then(kSwing)
        .Then(kHit)
        .Then(kA)
        .Then(kHome);
    ignored.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 6u) << "motion counted inside a strike window";

    Session counted = LitAndReady();
    counted.Then(kSwing)
        .Then(kHit)
        .Then(kRest, kMotionWindow - 1)
        .Then(kSwing)
        .Then(kHit)
        .Then(kA)
        .Then(kHome);
    counted.Run();
    EXPECT_EQ(CallsStartingWith("rumble").size(), 8u) << "motion ignored after the strike window";
}

TEST(BladeMotion, NoMotionCountsWhileDark) {
    Session s;
    s.Then(kSwing, 100).Then(kHit, 3).Then(kSwing).Then(kHit).Then(kHome);
    s.Run();
    EXPECT_TRUE(Outputs().empty());
}

TEST(BladeMotion, DarkeningDuringASwingThenRelightingStartsAFreshIgnition) {
    // Darkened while Swinging; relit at once. A swing in the relit blade's
    // 79th iteration must still be ignored, whatever the old counter held.
    Session s = LitAndReady();
    s.Then(kSwing)
        .Then(kA)
        .Then(kA)
        .Then(kRest, kIgnitionIterations - 3)
        .Then(kSwing)
        .Then(kHit)
        .Then(kA)
        .Then(kHome);
    s.Run();
    EXPECT_EQ(Texts(CallsStartingWith("rumble")).size(), 8u);
    EXPECT_EQ(Outputs(), Join(Join(Join(Join(Join(kIgnite, {"sound swing"}), kRetract), kIgnite),
                                   {"sound strike"}),
                              kRetract));
}

// The poll count (0-based iteration) at each call starting with `what`.
std::vector<size_t> IterationsOf(const std::string& what) {
    std::vector<size_t> found;
    size_t polls = 0;
    for (const RemoteCall& call : remoteCalls) {
        if (call.what.rfind("poll", 0) == 0) {
            ++polls;
        } else if (call.what == what) {
            found.push_back(polls - 1);
        }
    }
    return found;
}

// In the 16th iteration counting the swing's own as the first, then every 16:
// the window counts down in the swing's own iteration already.
TEST(BladeMotion, ASustainedSwingSoundsAgainEverySixteenIterations) {
    const size_t every = kMotionWindow - kSwingRetrigger + 1;
    Session s = LitAndReady();
    const size_t first = s.Next();
    s.Then(kSwing, 40).Then(kRest).Then(kA).Then(kHome);
    s.Run();
    EXPECT_EQ(IterationsOf("sound swing"),
              (std::vector<size_t>{first, first + every - 1, first + 2 * every - 1}));
}

TEST(BladeMotion, EachSoundStartsInTheIterationOfItsReport) {
    Session s;
    s.Then(kA);
    s.Then(kRest, kIgnitionIterations - 2);
    const size_t swing = s.Next();
    s.Then(kSwing).Then(kRest, kMotionWindow - 1);
    const size_t fromReady = s.Next();
    s.Then(kHit).Then(kRest, kMotionWindow);
    const size_t whileSwinging = s.Next() + 1;
    s.Then(kSwing).Then(kHit).Then(kRest);
    const size_t off = s.Next();
    s.Then(kA).Then(kHome);
    s.Run();
    EXPECT_EQ(IterationsOf("sound on"), (std::vector<size_t>{0}));
    EXPECT_EQ(IterationsOf("sound swing"), (std::vector<size_t>{swing, whileSwinging - 1}));
    EXPECT_EQ(IterationsOf("sound strike"), (std::vector<size_t>{fromReady, whileSwinging}));
    EXPECT_EQ(IterationsOf("sound off"), (std::vector<size_t>{off}));
}
