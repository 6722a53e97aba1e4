// Start-up's check that the remote really reports, against scripted remotes.
#include <gtest/gtest.h>

#include <algorithm>

#include "session.h"

namespace {

// A remote that cannot report costs the user a message, never a hang, and
// leaves no reader behind the closed link.
void ExpectCannotOpen(const SessionResult& s) {
    EXPECT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 1) << "a start that failed is no success";
    EXPECT_EQ(s.err, "Wii-Remote cannot open.\n");
    EXPECT_EQ(s.out, "") << "no banner after a failed probe";
    EXPECT_EQ(Writes(s), std::vector<std::string>{"12 00 31"}) << "no flash after a failed probe";
    ASSERT_FALSE(s.log.empty());
    EXPECT_EQ(s.log.back().kind, "close") << "nothing may follow the close";
    EXPECT_LT(s.log.back().ms, 1000.0);
}

}  // namespace

TEST(ProbeEndToEnd, ASilentRemoteCannotOpenAndEndsPromptly) {
    ExpectCannotOpen(RunScripted("# a remote that never sends\n", SessionOptions{{}, {}, 5000}));
}

TEST(ProbeEndToEnd, ButtonsOnlyOrZeroXReportsFailTheProbe) {
    ExpectCannotOpen(RunScripted("0-3000/10 30 00 00\n"));
    ExpectCannotOpen(RunScripted("0-3000/10 31 00 00 00 80 9a\n"));
}

TEST(ProbeEndToEnd, ARemoteThatStartsReportingAfterTheWindowFails) {
    ExpectCannotOpen(RunScripted("150-3000/10 31 00 00 80 80 9a\n"));
}

TEST(ProbeEndToEnd, AReportingRemotePassesThenFlashesThenGreetsOnce) {
    const SessionResult s = RunScripted(
        "0-2000/10 31 00 00 80 80 9a\n"
        "700-2000/10 31 00 80 80 80 9a\n");
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(s.err, "");
    EXPECT_EQ(std::count(s.out.begin(), s.out.end(), '\n'), 11);
    const std::vector<HidLogLine> writes = LinesOf(s, "write");
    ASSERT_EQ(writes.size(), 3u);
    // The flash waits for the 100 ms window.
    EXPECT_GT(writes[1].ms - writes[0].ms, 100.0);
    EXPECT_EQ(writes[1].rest, "11 f0");
    // The reader read during the window, and the blade took over after it.
    const std::vector<HidLogLine> reads = LinesOf(s, "read");
    ASSERT_FALSE(reads.empty());
    EXPECT_LT(reads.front().ms, writes[1].ms) << "no read before the flash";
    EXPECT_EQ(LinesOf(s, "read", "31 00 80 80 80 9a").size(), 1u)
        << "the blade quits on its first Home";
    EXPECT_EQ(s.log.back().kind, "close");
}

// A real remote sends no motion until it is given the mode: a probe reading
// first would judge a remote that was never asked.
TEST(ProbeEndToEnd, TheModeIsSetBeforeTheFirstRead) {
    const SessionResult s =
        RunScripted("0-2000/10 31 00 00 80 80 9a\n1000-2000/10 31 00 80 80 80 9a\n");
    ASSERT_EQ(s.status, 0);
    ASSERT_GE(s.log.size(), 3u);
    EXPECT_EQ(s.log[1].kind + " " + s.log[1].rest, "write 12 00 31") << "first after the open";
    EXPECT_EQ(s.log[2].kind, "read");
}

// The reader pauses after each read for as long as the window lasts, so the
// verdict rests on the first report whatever follows it in the window.
TEST(ProbeEndToEnd, TheReaderPausesSoTheFirstReportDecides) {
    for (const bool firstMoves : {false, true}) {
        const std::string first = firstMoves ? "31 00 00 80 80 9a" : "31 00 00 00 80 9a";
        const std::string later = firstMoves ? "31 00 00 00 80 9a" : "31 00 00 80 80 9a";
        const SessionResult s = RunScripted("0 " + first + "\n60-3000/10 " + later +
                                            "\n1000-3000/10 31 00 80 80 80 9a\n");
        // The probe's reads: those before its verdict shows as the flash or the close.
        std::vector<HidLogLine> probeReads;
        for (const HidLogLine& line : s.log) {
            if ((line.kind == "write" && line.rest == "11 f0") || line.kind == "close") {
                break;
            }
            if (line.kind == "read") {
                probeReads.push_back(line);
            }
        }
        ASSERT_FALSE(probeReads.empty());
        for (size_t i = 1; i < probeReads.size(); ++i) {
            EXPECT_GE(probeReads[i].ms - probeReads[i - 1].ms, 100.0) << "no pause after a read";
        }
        // A loaded machine may start the reader late, or hold the main thread
        // past the pause; whatever the one read got decides.
        if (probeReads.size() == 1) {
            const bool moved = probeReads[0].rest == "31 00 00 80 80 9a";
            EXPECT_EQ(s.err, moved ? "" : "Wii-Remote cannot open.\n") << firstMoves;
        }
    }
}
