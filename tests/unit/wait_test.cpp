#include "core/wait.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fake_counter.h"
#include "platform/counter.h"

// The fake counter moves 10 us per read, so a wait's length is exact to
// within one read.
TEST(WaitMs, LastsStrictlyLongerThanAsked) {
    for (const int32_t ms : {1, 10, 50, 400, 1000}) {
        ResetFakeCounter();
        WaitMs(ms);
        EXPECT_GT(FakeNowMs(), ms);
        EXPECT_LE(FakeNowMs(), ms + 0.03) << ms << " ms";
    }
}

TEST(WaitMs, ZeroReturnsOnceAnyTimeHasPassed) {
    ResetFakeCounter();
    WaitMs(0);
    EXPECT_EQ(fakeCounterReads, 2);  // the start, then one later read
}

// A spin that kept its processor would hold up the sound server's threads
// where there are only one or two: each turn but the last offers it.
TEST(WaitMs, OffersTheProcessorOnEveryTurnOfTheSpin) {
    ResetFakeCounter();
    WaitMs(5);
    EXPECT_GT(fakeProcessorOffers, 0);
    EXPECT_EQ(fakeProcessorOffers, fakeCounterReads - 2);  // not after the start's or the last read
}

namespace {

int32_t turnsKept = 0;

void KeepTurn() {
    ++turnsKept;
}

}  // namespace

// A step kept up while it lasts (a rumble pulse's watch) is timed from the
// reading it was given, kept up on every turn, and offers the processor too.
TEST(WaitMs, ASpinFromAnEarlierReadingKeepsItsStepUpOnEveryTurn) {
    ResetFakeCounter();
    const int64_t start = ReadCounter();
    WaitMs(2);
    turnsKept = 0;
    fakeProcessorOffers = 0;
    WaitMsSince(start, 5, KeepTurn);
    EXPECT_GT(FakeNowMs(), 5);
    EXPECT_LE(FakeNowMs(), 5.03);
    EXPECT_GT(turnsKept, 0);
    EXPECT_EQ(turnsKept, fakeProcessorOffers);
}

namespace {

std::vector<EndReason> endsCarriedOut;

void RecordEnd(EndReason reason) {
    endsCarriedOut.push_back(reason);
}

}  // namespace

// A request made by a signal is carried out by the next wait, only on the
// thread that named the handler, and only the first request counts.
TEST(WaitMs, CarriesOutAPendingEndRequestOnlyOnTheHandlersThread) {
    ResetFakeCounter();
    SetEndHandler(RecordEnd);
    WaitMs(1);
    EXPECT_TRUE(endsCarriedOut.empty());

    EXPECT_EQ(PendingEndRequest(), EndReason::None);
    RequestEnd(EndReason::Interrupt);
    RequestEnd(EndReason::Terminate);
    EXPECT_EQ(PendingEndRequest(), EndReason::Interrupt);
    std::thread other([] { WaitMs(1); });
    other.join();
    EXPECT_TRUE(endsCarriedOut.empty());

    WaitMs(1);
    ASSERT_FALSE(endsCarriedOut.empty());
    EXPECT_EQ(endsCarriedOut[0], EndReason::Interrupt);
    SetEndHandler(nullptr);
}
