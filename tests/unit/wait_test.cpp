#include "shell/wait.h"

#include <gtest/gtest.h>

#include "fake_counter.h"

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
