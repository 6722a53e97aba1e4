#include "remote/probe.h"

#include <gtest/gtest.h>

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
