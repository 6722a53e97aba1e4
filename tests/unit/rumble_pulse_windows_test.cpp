// The rumble pulse over the real Windows HID library, its watcher thread
// reading beside the main thread, on a Windows HID stack in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "fake_win32_hid.h"
#include "remote/remote_link.h"
#include "remote/rumble_pulse.h"

namespace {

// The time from the write that starts the rumble to the one that stops it.
std::chrono::steady_clock::duration PulseLength() {
    std::chrono::steady_clock::time_point on{}, off{};
    for (const FakeWrite& w : fakeHidWrites) {
        if (w.bytes.size() >= 2 && w.bytes[0] == 0x13) {
            (w.bytes[1] & 0x01 ? on : off) = w.at;
        }
    }
    EXPECT_NE(on, std::chrono::steady_clock::time_point{});
    EXPECT_NE(off, std::chrono::steady_clock::time_point{});
    return off - on;
}

}  // namespace

// A remote that reports every millisecond keeps the watcher's reads back to
// back, never waiting for a report; the write that ends the pulse must still
// go out within one read slice. Over a stack slower to hand a report over
// than the remote's period, a report is waiting at every read. The median of
// five pulses counts: a held-back write stretches most pulses (by seconds),
// while a busy machine taking the processor from the test stretches a few.
TEST(RumblePulseOnWindows, AWatcherReadingBackToBackDoesNotHoldTheEndOfAPulse) {
    for (const int readMs : {0, 2}) {
        ResetFakeWin32Hid();
        fakeHidReportEveryMs = 1;
        fakeHidReadMs = readMs;
        ASSERT_TRUE(OpenRemote());
        SetReportMode(0x00, 0x31);
        std::vector<std::chrono::steady_clock::duration> lengths;
        for (int run = 0; run < 5; ++run) {
            fakeHidWrites.clear();
            PulseRumble(200);
            lengths.push_back(PulseLength());
        }
        CloseRemote();
        std::sort(lengths.begin(), lengths.end());
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(lengths[2]).count();
        EXPECT_LE(ms, 215) << "reads of " << readMs << " ms";
        EXPECT_GE(ms, 200) << "reads of " << readMs << " ms";
    }
}
