// The program's own PulseAudio stream, against the test command's private
// server (scripts/private_pulse.sh): what the device's keeper does to it
// must never cost a play its jump over the queue.
#include "sound/output/pulse/pulse_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A pull of silence that can be held inside a refill, which libpulse's
// thread runs under the stream's lock, and counts the take-backs that only
// a skip makes.
std::mutex gate;
std::condition_variable moved;
bool holdNext = false;
bool holding = false;
std::atomic<int> takeBacks{0};

bool Silence(int16_t* out, size_t frames, int32_t) {
    std::memset(out, 0, frames * 2 * sizeof(int16_t));
    std::unique_lock held(gate);
    if (holdNext) {
        holdNext = false;
        holding = true;
        moved.notify_all();
        moved.wait(held, [] { return !holding; });
    }
    return false;
}

void CountTakeBack(size_t, int32_t) {
    ++takeBacks;
}

TEST(PulseOutput, APlayDuringTheLossCheckStillSkipsTheQueue) {
    const char* server = std::getenv("PULSE_SERVER");
    if (server == nullptr || server[0] == '\0') {
        GTEST_SKIP() << "the test command's PulseAudio server is not running";
    }
    ASSERT_TRUE(OpenPulseOutput({Silence, CountTakeBack, nullptr}));
    std::this_thread::sleep_for(200ms);  // playing, with a queue to skip
    {
        // A refill under way holds the stream's lock until let go.
        std::unique_lock held(gate);
        holdNext = true;
        ASSERT_TRUE(moved.wait_for(held, 5s, [] { return holding; }));
    }
    // The keeper's once-a-second check comes first and waits on the stream's
    // lock; a play comes while it waits.
    std::atomic<bool> lost{true};
    std::thread check([&lost] { lost = PulseOutputLost(); });
    std::this_thread::sleep_for(100ms);
    std::thread play(SkipPulseQueue);
    std::this_thread::sleep_for(100ms);
    {
        const std::lock_guard held(gate);
        holding = false;
        moved.notify_all();
    }
    check.join();
    play.join();
    EXPECT_FALSE(lost);
    EXPECT_EQ(takeBacks, 1) << "the play was not let jump the queue";
    ClosePulseOutput();
}

}  // namespace
