#include "hid/scripted/script.h"

#include <gtest/gtest.h>

namespace {

Script Parsed(const std::string& text) {
    Script script;
    const std::string error = ParseScript(text, script);
    EXPECT_EQ(error, "") << text;
    return script;
}

std::string ErrorOf(const std::string& text) {
    Script script;
    return ParseScript(text, script);
}

std::vector<int64_t> Times(const Script& script) {
    std::vector<int64_t> times;
    for (const ScriptReport& report : script.reports) {
        times.push_back(report.timeMs);
    }
    return times;
}

}  // namespace

TEST(ScriptParser, ReadsReportsInTimeOrderWithCommentsAndBlankLines) {
    const Script script = Parsed(
        "# a session\n"
        "\n"
        "  300 31 00 08 80 80 9a   # A pressed\n"
        "100 30 0 80\r\n"
        "200 31 00 00 FF 7f 9A\n");
    EXPECT_FALSE(script.absent);
    EXPECT_EQ(Times(script), (std::vector<int64_t>{100, 200, 300}));
    EXPECT_EQ(script.reports[0].bytes, (std::vector<uint8_t>{0x30, 0x00, 0x80}));
    EXPECT_EQ(script.reports[1].bytes, (std::vector<uint8_t>{0x31, 0x00, 0x00, 0xFF, 0x7F, 0x9A}));
}

TEST(ScriptParser, RangesRepeatUpToAndIncludingTheirEnd) {
    EXPECT_EQ(Times(Parsed("0-30/10 31 00 00 80 80 9a\n")), (std::vector<int64_t>{0, 10, 20, 30}));
    EXPECT_EQ(Times(Parsed("5-29/10 30 00 00\n")), (std::vector<int64_t>{5, 15, 25}));
    EXPECT_EQ(Times(Parsed("7-7/3 30 00 00")), (std::vector<int64_t>{7}));
}

TEST(ScriptParser, TheLaterLineWinsATime) {
    const Script script = Parsed(
        "0-40/10 31 00 00 80 80 9a\n"
        "20 31 00 08 80 80 9a\n"
        "20-20/1 30 00 80\n");
    EXPECT_EQ(Times(script), (std::vector<int64_t>{0, 10, 20, 30, 40}));
    EXPECT_EQ(script.reports[2].bytes, (std::vector<uint8_t>{0x30, 0x00, 0x80}));
}

TEST(ScriptParser, AbsentStandsAlone) {
    EXPECT_TRUE(Parsed("# no remote\nabsent\n").absent);
    EXPECT_NE(ErrorOf("absent\n100 31 00 00 80 80 9a\n"), "");
    EXPECT_NE(ErrorOf("100 31 00 00 80 80 9a\nabsent\n"), "");
    EXPECT_NE(ErrorOf("absent now\n"), "");
}

TEST(ScriptParser, AScriptWithoutReportsIsASilentRemote) {
    const Script script = Parsed("# nothing\n\n");
    EXPECT_FALSE(script.absent);
    EXPECT_TRUE(script.reports.empty());
    EXPECT_TRUE(Parsed("").reports.empty());
}

TEST(ScriptParser, RejectsMalformedLinesNamingTheLine) {
    EXPECT_EQ(ErrorOf("0 31\n\nx 31\n").rfind("line 3: ", 0), 0u);
    for (const char* bad : {
             "100\n",                // no identifier
             "-5 31\n",              // negative time
             "1.5 31\n",             // fractional time
             "100 3g\n",             // not hex
             "100 123\n",            // three digits
             "10-5/1 31\n",          // A after B
             "0-10/0 31\n",          // zero period
             "0-10 31\n",            // no period
             "99999999999 31\n",     // too late
             "0-1000000000/1 31\n",  // too many reports
         }) {
        EXPECT_NE(ErrorOf(bad), "") << bad;
    }
}

TEST(ScriptParser, AReportHoldsAtMost256Bytes) {
    std::string line = "0";
    for (int i = 0; i < 256; ++i) {
        line += " ab";
    }
    EXPECT_EQ(Parsed(line).reports[0].bytes.size(), 256u);
    EXPECT_NE(ErrorOf(line + " cd"), "");
}

TEST(ScriptParser, GonePeriodsAreKeptInTimeOrderApartFromReports) {
    const Script script = Parsed(
        "gone 5000-6000\n"
        "100 31 00 00 80 80 9a\n"
        " gone 1000-1200  # out of range\n"
        "gone 1200-1300\n");
    ASSERT_EQ(script.gaps.size(), 3u);
    EXPECT_EQ(script.gaps[0].fromMs, 1000);
    EXPECT_EQ(script.gaps[0].untilMs, 1200);
    EXPECT_EQ(script.gaps[1].fromMs, 1200);
    EXPECT_EQ(script.gaps[2].untilMs, 6000);
    EXPECT_EQ(Times(script), (std::vector<int64_t>{100}));
}

TEST(ScriptParser, RejectsMalformedOrOverlappingGonePeriods) {
    for (const char* text : {"gone 100\n", "gone 200-100\n", "gone 100-100\n", "gone -100\n",
                             "gone 1-2 3\n", "gone\n", "gone 1-x\n"}) {
        EXPECT_NE(ErrorOf(text).find("line 1: expected 'gone A-B'"), std::string::npos) << text;
    }
    EXPECT_NE(ErrorOf("gone 100-300\ngone 200-400\n"), "");
    EXPECT_NE(ErrorOf("absent\ngone 100-300\n"), "");
}

TEST(ScriptParser, AnAccessoryIsAStatusReportThatALaterLineCanReplace) {
    const Script script = Parsed(
        "accessory 700\n"
        "accessory 300\n"
        "700 31 00 00 80 80 9a\n");
    EXPECT_EQ(script.accessoryMs, (std::vector<int64_t>{300, 700}));
    EXPECT_EQ(Times(script), (std::vector<int64_t>{300, 700}));
    EXPECT_EQ(script.reports[0].bytes,
              (std::vector<uint8_t>{0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC8}));
    EXPECT_EQ(script.reports[1].bytes[0], 0x31);
    EXPECT_NE(ErrorOf("accessory\n"), "");
    EXPECT_NE(ErrorOf("accessory 1-2/1\n"), "");
    EXPECT_NE(ErrorOf("absent\naccessory 5\n"), "");
}

TEST(ScriptParser, AProductIdIsFourHexDigitsAndDefaultsToTheOriginalRemote) {
    EXPECT_EQ(Parsed("0 31\n").productId, 0x0306);
    EXPECT_EQ(Parsed("product 0330\n0 31\n").productId, 0x0330);
    for (const char* bad : {"product\n", "product 330\n", "product 03300\n", "product 03g0\n",
                            "product 0330 0306\n"}) {
        EXPECT_NE(ErrorOf(bad).find("line 1: expected 'product PPPP'"), std::string::npos) << bad;
    }
}
