// When the Windows sound stream drops its queue and starts again.
#include "sound/output/wasapi/stream_refill.h"

#include <gtest/gtest.h>

#include "config.h"

namespace {

struct Case {
    const char* what;
    bool quirkBefore;
    WakeSeen seen;
    RefillAction expected;
    bool quirkAfter;
};

constexpr int64_t kLong = kWasapiQuietRestartMs;

}  // namespace

TEST(StreamRefill, RestartsInQuietOnlyOnceTheStreamHasRunLateOrDry) {
    const Case cases[] = {
        // A stream that never ran late or dry is never restarted.
        {"long quiet, nothing seen",
         false,
         {false, false, true, kLong * 4},
         RefillAction::TopUp,
         false},
        {"sound playing, nothing seen",
         false,
         {false, false, false, 0},
         RefillAction::TopUp,
         false},
        // A late wake or a dry engine: dropped at once where only quiet is queued ...
        {"late, only quiet queued", false, {true, false, true, 30}, RefillAction::Restart, true},
        {"dry, only quiet queued", false, {false, true, true, 30}, RefillAction::Restart, true},
        // ... but never under a sound's frames, which are remembered for later.
        {"late under a sound", false, {true, false, false, 0}, RefillAction::TopUp, true},
        {"dry under a sound", false, {false, true, false, 0}, RefillAction::TopUp, true},
        // Once seen, each long quiet restarts it, and only a long one.
        {"seen, long quiet", true, {false, false, true, kLong}, RefillAction::Restart, true},
        {"seen, quiet just short",
         true,
         {false, false, true, kLong - 1},
         RefillAction::TopUp,
         true},
        {"seen, sound playing", true, {false, false, false, 0}, RefillAction::TopUp, true},
    };
    for (const Case& c : cases) {
        bool quirk = c.quirkBefore;
        EXPECT_EQ(ChooseRefill(c.seen, quirk), c.expected) << c.what;
        EXPECT_EQ(quirk, c.quirkAfter) << c.what;
    }
}
