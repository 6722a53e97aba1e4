// The sound device's keeper over a table of the test's own: outputs that
// open at once, hang in their open or lose their server when the test says.
#include "sound/output/sound_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "config.h"

namespace {

using Clock = std::chrono::steady_clock;

// An output whose thread pulls a short buffer every millisecond, under its
// lock, from its open (the first before the open returns) to its close, and
// counts whose frames it got.
struct FakeOutput {
    std::mutex lock;
    std::mutex hang;
    std::condition_variable letGo;
    bool hangs = false;  // the next open waits until the test lets it go
    std::atomic<bool> lost{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> mixerPulls{0};
    std::atomic<int> silentPulls{0};
    std::atomic<bool> pulling{false};
    std::thread puller;

    bool Open(const MixerPull& pull) {
        {
            std::unique_lock held(hang);
            letGo.wait(held, [this] { return !hangs; });
        }
        lost = false;
        pulling = true;
        const int pulledBefore = mixerPulls + silentPulls;
        puller = std::thread([this, pull] {
            int16_t frames[64 * 2];
            while (pulling) {
                {
                    const std::lock_guard held(lock);
                    pull.mix(frames, 64, kOutputRate);
                }
                ++(frames[0] == 1 ? mixerPulls : silentPulls);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        // It plays from the moment it opens: the first buffer is pulled
        // before the open returns.
        while (mixerPulls + silentPulls == pulledBefore) {
            std::this_thread::yield();
        }
        ++opens;
        return true;
    }
    void Close() {
        pulling = false;
        puller.join();
        ++closes;
    }
    void Hang(bool on) {
        const std::lock_guard held(hang);
        hangs = on;
        letGo.notify_all();
    }
};

// Never destroyed: the device's own threads may still close one of them
// as the process ends, as a close is not waited for.
FakeOutput* const outputs = new FakeOutput[2];

template <int N>
bool OpenRow(const MixerPull& pull) {
    return outputs[N].Open(pull);
}
template <int N>
void CloseRow() {
    outputs[N].Close();
}
template <int N>
void LockRow() {
    outputs[N].lock.lock();
}
template <int N>
void UnlockRow() {
    outputs[N].lock.unlock();
}
template <int N>
bool RowLost() {
    return outputs[N].lost;
}

bool Never(const MixerPull&) {
    return false;
}
void Nothing() {}
bool DescribeNothing(const MixerPull&, SoundDeviceFacts&) {
    return false;
}

// The mixer's frames are all ones here, silence all zeros.
bool Ones(int16_t* out, size_t frames, int32_t) {
    for (size_t i = 0; i < frames * 2; ++i) {
        out[i] = 1;
    }
    return true;
}
void NoTakeBack(size_t, int32_t) {}

// Waits up to `ms` for `done`.
template <typename Done>
bool Within(int ms, Done done) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace

const SoundOutput kSoundOutputs[] = {
    {"hanging", OpenRow<0>, CloseRow<0>, LockRow<0>, UnlockRow<0>, nullptr, RowLost<0>,
     DescribeNothing},
    {"playing", OpenRow<1>, CloseRow<1>, LockRow<1>, UnlockRow<1>, nullptr, RowLost<1>,
     DescribeNothing},
    {"stand-in", Never, Nothing, Nothing, Nothing, nullptr, nullptr, DescribeNothing},
};
const size_t kSoundOutputCount = 3;

// An output that hangs in its open is given up on within the limit and the
// next one plays; when it opens after all, it pulls only silence and is
// closed again. An output whose server is lost is closed and opened again.
// None of it holds up the close.
TEST(SoundDevice, AHangingOpenIsPassedOverAndALostOutputIsOpenedAgain) {
    outputs[0].Hang(true);
    const auto asked = Clock::now();
    ASSERT_TRUE(OpenSoundDevice({Ones, NoTakeBack, nullptr}));
    // An open that waited for the hanging one would wait out its limit.
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(kSoundOpenLimitMs / 2))
        << "the open waited";
    ASSERT_TRUE(Within(kSoundOpenLimitMs + 1000, [] { return outputs[1].mixerPulls > 10; }));
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(kSoundOpenLimitMs - 100));

    outputs[0].Hang(false);
    ASSERT_TRUE(Within(1000, [] { return outputs[0].closes == 1; })) << "the late open stays";
    EXPECT_EQ(outputs[0].mixerPulls, 0) << "the late open pulled the mixer beside the other";

    // The table is tried from the top again: the first, no longer hanging,
    // opens and plays.
    outputs[1].lost = true;
    ASSERT_TRUE(Within(kSoundRetryMs + 1000, [] { return outputs[0].mixerPulls > 10; }));
    EXPECT_EQ(outputs[1].closes, 1);
    EXPECT_EQ(outputs[0].opens, 2);

    const auto closing = Clock::now();
    CloseSoundDevice();
    EXPECT_LT(Clock::now() - closing, std::chrono::milliseconds(500));
    EXPECT_EQ(outputs[0].closes + outputs[1].closes, 3);
}

// The end does not wait for an open that hangs: the close returns within
// its bound, and the open is closed by its own thread once it returns.
TEST(SoundDevice, TheCloseDoesNotWaitForAHangingOpen) {
    const int closesBefore = outputs[0].closes;
    outputs[0].Hang(true);
    ASSERT_TRUE(OpenSoundDevice({Ones, NoTakeBack, nullptr}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto closing = Clock::now();
    CloseSoundDevice();
    EXPECT_LT(Clock::now() - closing, std::chrono::milliseconds(kSoundCloseWaitMs + 200));
    outputs[0].Hang(false);
    EXPECT_TRUE(Within(1000, [closesBefore] { return outputs[0].closes == closesBefore + 1; }));
}
