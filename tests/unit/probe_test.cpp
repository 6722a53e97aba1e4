#include "remote/probe.h"

#include <gtest/gtest.h>

#include "config.h"
#include "fake_counter.h"
#include "fake_remote_link.h"
#include "fake_thread.h"
#include "remote/remote_link.h"

namespace {

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakeCounter();
        ResetFakeRemoteLink();
        ResetFakeThread();
        readerRun = false;
        readerInLoop = false;
    }
};

}  // namespace

TEST_F(ProbeTest, AThreadThatCannotStartFailsTheProbeQuietly) {
    fakeThreadStartSucceeds = false;
    remoteState.accelX = 0x80;  // left over from before: must not count
    EXPECT_FALSE(ProbeRemote());
    EXPECT_EQ(fakeThreadStarts, 1);
    EXPECT_FALSE(readerRun);
    EXPECT_GT(FakeNowMs(), 100.0);

    StopReader();
    EXPECT_EQ(fakeThreadJoins, 0);
    EXPECT_TRUE(remoteCalls.empty());
}

// The reader makes one pass, and the window ends during its pause.
TEST_F(ProbeTest, TheVerdictRestsOnTheXByteOfTheReportsRead) {
    fakeThreadRunsBody = true;
    fakeOnSleep = [] { readerRun = false; };
    for (const uint8_t x : {0x01, 0x80, 0xFF}) {
        ResetFakeRemoteLink();
        fakeReports = {{0x00, x, 0x80, 0x80}};
        EXPECT_TRUE(ProbeRemote()) << int{x};
        EXPECT_EQ(fakePolls, 1u);
        EXPECT_FALSE(readerInLoop) << "the reader left its loop";
    }
    ResetFakeRemoteLink();
    fakeReports = {{0x00, 0x00, 0x80, 0x80}};
    EXPECT_FALSE(ProbeRemote());
}

// The window is timed from the reader's start: a thread that starts late (on
// Windows, behind a DLL another thread loads) still has its report judged,
// and a thread that never runs fails the probe once its start limit passed.
TEST_F(ProbeTest, TheWindowOpensWhenTheReaderStarts) {
    constexpr double kNever = -1;
    struct Case {
        double startsAtMs;
        uint8_t x;
        bool verdict;
    };
    for (const Case c : {Case{0, 0x80, true}, Case{300, 0x80, true}, Case{900, 0x80, true},
                         Case{300, 0x00, false}, Case{kNever, 0x80, false}}) {
        ResetFakeCounter();
        readerInLoop = false;
        double startedMs = kNever;
        // The test plays the reader: entering its loop, it decodes a report.
        fakeOnCounterRead = [&] {
            if (c.startsAtMs != kNever && startedMs == kNever && FakeNowMs() >= c.startsAtMs) {
                startedMs = FakeNowMs();
                readerInLoop = true;
                remoteState.accelX = c.x;
            }
        };
        EXPECT_EQ(ProbeRemote(), c.verdict) << c.startsAtMs;
        if (c.startsAtMs == kNever) {
            EXPECT_GT(FakeNowMs(), kReaderStartLimitMs + kProbeWindowMs);
        } else {
            EXPECT_GT(FakeNowMs(), startedMs + kProbeWindowMs) << c.startsAtMs;
            EXPECT_LT(FakeNowMs(), startedMs + kProbeWindowMs + 5) << c.startsAtMs;
        }
    }
}

TEST_F(ProbeTest, StopReaderLeavesAReaderThatLeftItsLoopAlone) {
    readerInLoop = false;
    StopReader();
    EXPECT_EQ(fakeThreadJoins, 0);
    EXPECT_TRUE(CallsStartingWith("cancel").empty());

    readerInLoop = true;
    StopReader();
    EXPECT_EQ(fakeThreadJoins, 1);
    // Reads are cancelled for the join and usable again afterwards.
    const std::vector<RemoteCall> cancels = CallsStartingWith("cancel");
    ASSERT_EQ(cancels.size(), 2u);
    EXPECT_EQ(cancels[0].what, "cancel 01");
    EXPECT_EQ(cancels[1].what, "cancel 00");
}

// A reader caught where a cancel cannot reach outlives its join. It leaves at
// its next look at readerRun, so no later start may set that while it lives;
// once it has ended, the next start gets a reader of its own.
TEST_F(ProbeTest, AReaderLeftBehindByAJoinThatTimedOutIsNeverSetReadingAgain) {
    fakeThreadEnds = false;
    ProbeRemote();
    FinishReader();
    ASSERT_TRUE(fakeThreadRunning);

    bool toldToRead = false;
    fakeOnCounterRead = [&toldToRead] { toldToRead = toldToRead || readerRun; };
    EXPECT_FALSE(ProbeRemote());
    StopReader();
    EXPECT_FALSE(toldToRead);

    fakeThreadRunning = false;  // it got out at last
    fakeThreadEnds = true;
    const int started = fakeThreadStarts;
    ProbeRemote();
    EXPECT_TRUE(toldToRead);
    EXPECT_EQ(fakeThreadStarts, started + 1);
}
