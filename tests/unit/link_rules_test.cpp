// The link's rules as a table: what the program wants and what the link has
// seen, against the reports it must send now.
#include "remote/link_rules.h"

#include <gtest/gtest.h>

namespace {

using Reports = std::vector<LinkReport>;

// Mode 0x31 and LEDs 1 and 2 set, rumble as given.
LinkWanted Set(bool rumble) {
    return {.modeSet = true,
            .modeFlags = 0x00,
            .mode = 0x31,
            .ledsSet = true,
            .leds = 0x30,
            .rumble = rumble};
}

struct Case {
    const char* what;
    LinkWanted wanted;
    LinkObserved observed;
    Reports due;
};

}  // namespace

TEST(LinkRules, TheReportsDueFollowFromWhatIsWantedAndWhatWasSeen) {
    const Reports wholeStateOff = {{0x12, 0x00, 0x31}, {0x11, 0x30}, {0x13, 0x00}};
    const std::vector<Case> cases = {
        {"nothing seen", Set(false), {}, {}},
        {"a status report", Set(false), {.statusReport = true}, {{0x12, 0x00, 0x31}}},
        {"a status report while rumbling", Set(true), {.statusReport = true}, {{0x12, 0x01, 0x31}}},
        {"a status report, no mode ever set", {}, {.statusReport = true}, {}},
        {"another mode, mode just sent",
         Set(false),
         {.otherMode = true, .msSinceModeSent = 99},
         {}},
        {"another mode, mode sent 100 ms ago",
         Set(false),
         {.otherMode = true, .msSinceModeSent = 100},
         {{0x12, 0x00, 0x31}}},
        {"a return: everything set, rumble off", Set(false), {.returned = true}, wholeStateOff},
        {"a return mid-pulse: the motor stays off", Set(true), {.returned = true}, wholeStateOff},
        {"a return before anything was set", {}, {.returned = true}, {{0x13, 0x00}}},
        {"a status report just after a return",
         Set(false),
         {.statusReport = true, .msSinceReturn = 50},
         wholeStateOff},
        {"a status report a second after a return",
         Set(false),
         {.statusReport = true, .msSinceReturn = 1001},
         {{0x12, 0x00, 0x31}}},
        {"the rumble stopped by another writer",
         Set(true),
         {.rumbleStopped = true},
         {{0x13, 0x01}}},
        {"a stopped rumble no longer wanted", Set(false), {.rumbleStopped = true}, {}},
        {"a stopped rumble and a status report after a return",
         Set(true),
         {.statusReport = true, .rumbleStopped = true, .msSinceReturn = 10},
         {{0x12, 0x01, 0x31}, {0x11, 0x31}, {0x13, 0x01}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReportsDue(c.wanted, c.observed), c.due) << c.what;
    }
}
