#include "expectations.h"

#include <gtest/gtest.h>

void ExpectSpacing(const HidLogLine& earlier, const HidLogLine& later, double ms, Slack slack) {
    const double gap = later.ms - earlier.ms;
    EXPECT_GT(gap, ms - slack.belowMs) << earlier.rest << " -> " << later.rest;
    EXPECT_LT(gap, ms + slack.aboveMs) << earlier.rest << " -> " << later.rest;
}

void ExpectWholeSession(const std::vector<HidLogLine>& w, Slack slack) {
    std::vector<std::string> rests;
    for (const HidLogLine& line : w) {
        rests.push_back(line.rest);
    }
    ASSERT_EQ(rests, Concat({kStart, kIgnite, kPulse, kRetract, kIgnite, kRetract}));
    ExpectSpacing(w[1], w[2], 200.0, slack);           // the start-up flash
    for (const size_t effect : {3u, 11u, 17u, 23u}) {  // ignite, retract, ignite, retract
        ExpectSpacing(w[effect], w[effect + 1], 50.0, slack);
        ExpectSpacing(w[effect + 1], w[effect + 2], 50.0, slack);
        ExpectSpacing(w[effect + 2], w[effect + 3], 50.0, slack);
        EXPECT_LT(w[effect + 4].ms - w[effect + 3].ms, slack.aboveMs);
        ExpectSpacing(w[effect + 4], w[effect + 5], 400.0, slack);
    }
    ExpectSpacing(w[9], w[10], 200.0, slack);  // the strike's pulse
}
