// The doctor's recording, read back by the scripted remote's own parser:
// every report at the ms it came, none lost to another in the same ms.
#include "doctor/script_lines.h"

#include <gtest/gtest.h>

#include "hid/scripted/script.h"

TEST(Recording, ReadsBackAsTheScriptOfEveryReportAtItsTime) {
    struct Came {
        double ms;
        std::vector<uint8_t> bytes;
        int64_t scriptMs;
    };
    const std::vector<Came> session = {
        {0.4, {0x30, 0x00, 0x00}, 0},
        {10.9, {0x31, 0x00, 0x08, 0x80, 0x80, 0x9a}, 10},
        // A status report in the same ms as the data before it, and data
        // right after it: each one ms on, so that the replay keeps all three.
        {10.95, {0x20, 0x00, 0x00, 0x10, 0x00, 0x00, 0xc8}, 11},
        {11.2, {0x31, 0x60, 0xe0, 0xff, 0x00, 0x7f}, 12},
        {30.0, std::vector<uint8_t>(22, 0x3d), 30},
    };
    ScriptLines lines;
    std::string text = "# recorded\n";
    for (const Came& report : session) {
        text += lines.Line(report.ms, report.bytes);
    }
    Script script;
    ASSERT_EQ(ParseScript(text, script), "") << text;
    ASSERT_EQ(script.reports.size(), session.size()) << text;
    for (size_t i = 0; i < session.size(); ++i) {
        EXPECT_EQ(script.reports[i].timeMs, session[i].scriptMs) << text;
        EXPECT_EQ(script.reports[i].bytes, session[i].bytes) << text;
    }
}
