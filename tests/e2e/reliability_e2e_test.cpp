// The whole program against a scripted remote that misbehaves: accessories,
// a remote that vanishes and returns, reports of odd lengths.
#include <gtest/gtest.h>

#include "session.h"

namespace {

// A remote at rest, reporting every 10 ms. Presses below are held for a few
// reports, Home to the end: a loaded machine may read late (a loop held 40 ms
// was seen at load 3), and a late read keeps only the newest report.
const std::string kAtRest = "0-9000/10 31 00 00 80 80 9a\n";

// Index in the log of the first line of `kind` (and `rest`, if given) at or
// after `from`; the log's size if there is none.
size_t Find(const SessionResult& s, const std::string& kind, const std::string& rest = "",
            size_t from = 0) {
    for (size_t i = from; i < s.log.size(); ++i) {
        if (s.log[i].kind == kind && (rest.empty() || s.log[i].rest == rest)) {
            return i;
        }
    }
    return s.log.size();
}

}  // namespace

// The remote goes silent after its status report until it gets a mode again:
// unanswered, the read would wait forever and Home would never be seen.
TEST(ReliabilityEndToEnd, AnAccessoryWhileLitCostsOneModeReportAndNothingElse) {
    const SessionResult s = RunScripted(kAtRest +
                                            "300-800/10 31 00 08 80 80 9a\n"  // A: ignite
                                            "accessory 1500\n"
                                            "2500-9000/10 31 00 80 80 80 9a\n",  // Home, held
                                        SessionOptions{{}, {}, 8000});
    ASSERT_FALSE(s.timedOut) << "the status report was never answered";
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(Writes(s), Concat({kStart, kIgnite, {"12 00 31"}, kRetract}));

    const size_t status = Find(s, "read", "20 00 00 00 00 00 c8");
    ASSERT_LT(status, s.log.size());
    EXPECT_EQ(s.log[status + 1].kind, "write") << "the mode goes out before the next read";
    EXPECT_EQ(s.log[status + 1].rest, "12 00 31");
    EXPECT_EQ(s.log[status + 2].kind, "read");
}

// A status report is never lost behind the data that follows it, as the real
// library holds it: the remote's data after it (the kernel's driver asked for
// it, or a recording replays one) must not cost the mode it asks for.
TEST(ReliabilityEndToEnd, AStatusReportAmongDataIsReadAndAnswered) {
    const SessionResult s = RunScripted(kAtRest +
                                            "1500 20 00 00 10 00 00 c8\n"
                                            "1501 31 00 00 80 80 9a\n"
                                            "1502 31 00 00 80 80 9a\n"
                                            "2500-9000/10 31 00 80 80 80 9a\n",  // Home, held
                                        SessionOptions{{}, {}, 8000});
    ASSERT_FALSE(s.timedOut);
    EXPECT_EQ(LinesOf(s, "read", "20 00 00 10 00 00 c8").size(), 1u);
    EXPECT_EQ(Writes(s), Concat({kStart, {"12 00 31"}}));
}

// It vanishes in the middle of the ignition's rumble pulse and is back 900 ms
// later: the pulse's end is lost, so the return must switch the motor off. A
// is held, so that a start-up a busy machine slowed still reads it (the
// pulse then runs up to about 1060 ms), but not past the ignition's 550 ms.
TEST(ReliabilityEndToEnd, ARemoteThatVanishesIsRestoredWithTheRumbleOff) {
    const SessionResult s =
        RunScripted(kAtRest +
                        "300-800/10 31 00 08 80 80 9a\n"  // A: ignite, rumble from 450
                        "gone 700-1600\n"
                        "2500-9000/10 31 00 80 80 80 9a\n",  // Home, held
                    SessionOptions{{}, {}, 8000});
    ASSERT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 0);
    const std::vector<std::string> ignitionWhileGone = {
        "11 10", "11 30", "11 70", "11 f0", "13 01", "gone 13 00", "12 00 31", "11 f0", "13 00"};
    EXPECT_EQ(Writes(s), Concat({kStart, ignitionWhileGone, kRetract}));

    // Noticed at once by the reader that watches the pulse; then, besides the
    // pulse's end sent in vain and that reader's cancelled read, nothing but
    // a look for the remote every half second until one finds it back.
    const size_t gone = Find(s, "read", "gone");
    const size_t back = Find(s, "reopen", "057e 0306 0", gone);
    ASSERT_LT(back, s.log.size());
    EXPECT_GE(s.log[gone].ms, 700.0);
    EXPECT_LT(s.log[gone].ms, 800.0) << "noticed only at the pulse's end, 850 ms or later";
    EXPECT_EQ(LinesOf(s, "reopen", "057e 0306 -1").size(), 1u);
    double previous = s.log[gone].ms;
    for (size_t i = gone + 1; i <= back; ++i) {
        const HidLogLine& line = s.log[i];
        if (line.rest == "gone 13 00" || (line.kind == "read" && line.rest == "none")) {
            continue;
        }
        ASSERT_EQ(line.kind, "reopen") << line.rest;
        // The log's time of a line trails the clock it was timed by by up
        // to a few ms on a busy machine; a look in a loop would come at once.
        EXPECT_GT(line.ms - previous, 450.0) << "looked for in a loop";
        EXPECT_LT(line.ms - previous, 750.0) << "looked for once a second";
        previous = line.ms;
    }
    EXPECT_GE(s.log[back].ms, 1600.0);
    const size_t nextRead = Find(s, "read", "", back);
    ASSERT_LT(nextRead, s.log.size());
    EXPECT_GT(static_cast<double>(s.log[nextRead].scriptMs), s.log[back].ms)
        << "reports timed while nobody listened are never delivered";
}

// Reports that merely claim to be the remote's: too short for their fields,
// as long as a report can be, or of identifiers the program does not know.
// None may move the blade (a short 0x31 carrying A is ignored whole), and the
// sanitizer build checks that none is read out of bounds.
TEST(ReliabilityEndToEnd, OddReportsNeitherMoveTheBladeNorEndTheSession) {
    std::string longest = "31 00 00 80 80 9a";
    std::string unknown = "3f";
    for (int i = 6; i < 256; ++i) {
        longest += " ff";
    }
    for (int i = 1; i < 256; ++i) {
        unknown += " 08";
    }
    const std::vector<std::string> odd = {"31",    "30 00", "31 00 08", "30 08", "20",
                                          "21 00", "ff",    longest,    unknown, "00"};
    // Quiet between them, so that each is the newest when it is read.
    std::string script = "0-400/10 31 00 00 80 80 9a\n";
    for (size_t i = 0; i < odd.size(); ++i) {
        script += std::to_string(500 + 40 * i) + " " + odd[i] + "\n";
    }
    script += "1200-3000/10 31 00 80 80 80 9a\n";  // Home, held
    const SessionResult s = RunScripted(script, SessionOptions{{}, {}, 8000});
    ASSERT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.err, "");
    for (const std::string& report : odd) {
        EXPECT_EQ(LinesOf(s, "read", report).size(), 1u) << report;
    }
    // The one-byte status report asks for the mode again; nothing else is sent.
    EXPECT_EQ(Writes(s), Concat({kStart, {"12 00 31"}}));
}
