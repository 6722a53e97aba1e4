// The whole program against a scripted remote, as a user would run it.
#include <gtest/gtest.h>

#include "banner.h"
#include "config.h"
#include "expectations.h"
#include "session.h"

namespace {

// A remote at rest, reporting every 10 ms as a real one does. Start-up (the
// probe window and the flash) takes about 300 ms, longer under sanitizers, so
// scripted presses come well after it.
const std::string kAtRest = "0-12000/10 31 00 00 80 80 9a\n";

// A press lasts 100 ms, as a thumb's does: a loop that a busy machine delays
// may skip reports, and the effect it starts (550 ms) outlasts the press, so
// the press toggles once. Home is held to the end so a late loop cannot miss it.
const std::string kHomeFrom1000 = "1000-12000/10 31 00 80 80 80 9a\n";

}  // namespace

TEST(ProgramEndToEnd, WithoutARemoteSaysSoAndExitsWithOne) {
    const SessionResult s = RunScripted("absent\n");
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err, "Wii-Remote not found.\n");
    EXPECT_EQ(s.out, "");
    // Looked for as the original remote, then as a Wii Remote Plus.
    ASSERT_EQ(s.log.size(), 2u) << "nothing may be sent to a missing remote";
    EXPECT_EQ(s.log[0].kind, "open");
    EXPECT_EQ(s.log[0].rest, "057e 0306 -1");
    EXPECT_EQ(s.log[1].kind, "open");
    EXPECT_EQ(s.log[1].rest, "057e 0330 -1");
}

TEST(ProgramEndToEnd, AtATerminalTheMessageWaitsForEnter) {
    SessionSignal enter;
    enter.delayMs = 300;
    enter.keys = "\r";
    const SessionResult s = RunScriptedWithSignal("absent\n", enter, SessionOptions{{}, {}, 5000});
    EXPECT_FALSE(s.timedOut);
    EXPECT_GE(s.signalToEndMs, 0.0) << "ended before Enter, without waiting for it";
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err, "Wii-Remote not found.\n");
}

TEST(ProgramEndToEnd, HomeAloneQuitsAfterTheFlashAndTheExactBanner) {
    const SessionResult s = RunScripted(kAtRest + kHomeFrom1000);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, kBanner);
    EXPECT_EQ(s.err, "");
    EXPECT_EQ(Writes(s), kStart);
    const std::vector<HidLogLine> writes = LinesOf(s, "write");
    ExpectSpacing(writes[1], writes[2], 200.0);
    // The banner's first byte was out only once the flash had ended.
    SessionResult atFirstOutput;
    atFirstOutput.log = s.logAtFirstOutput;
    EXPECT_EQ(Writes(atFirstOutput), kStart);
    ASSERT_FALSE(s.log.empty());
    EXPECT_EQ(s.log.back().kind, "close");
    // Home while dark quits at once, where quitting while lit waits a second.
    EXPECT_LT(s.log.back().ms - LinesOf(s, "read").back().ms, kEndWaitedForAThreadMs);
}

TEST(ProgramEndToEnd, ASessionOfIgniteStrikeRetractAndQuitWhileLit) {
    const SessionResult s = RunScripted(kWholeSessionScript);
    ASSERT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 0);
    const std::vector<HidLogLine> w = LinesOf(s, "write");
    ExpectWholeSession(w);
    ASSERT_EQ(w.size(), 29u);

    // Each effect starts within a report period and an iteration of its report.
    const HidLogLine firstA = LinesOf(s, "read", "31 00 08 80 80 9a").at(0);
    EXPECT_GE(firstA.scriptMs, 1000);
    EXPECT_LT(w[3].ms - firstA.scriptMs, 10.0 + 10.0 + kScriptedSlack.aboveMs);
    const HidLogLine hit = LinesOf(s, "read", "31 00 00 ff 80 80").at(0);
    EXPECT_LT(w[9].ms - hit.ms, kScriptedSlack.aboveMs);

    // Quitting while lit lets the off sound play out for a second.
    ASSERT_EQ(s.log.back().kind, "close");
    ExpectSpacing(w.back(), s.log.back(), kQuitPauseMs, kQuitPauseSlack);
}

// A real remote sends low bits of its accelerometer in bits 5 and 6 of both
// button bytes. Set in every report, they change nothing: the same session as
// above, the same writes.
TEST(ProgramEndToEnd, AccelerometerBitsInTheButtonBytesChangeNothing) {
    const SessionResult s = RunScripted(
        "0-12000/10 31 60 60 80 80 9a\n"       // at rest
        "1000-1090/10 31 20 68 80 80 9a\n"     // A: ignite
        "4500-4590/10 31 40 60 bc 80 80\n"     // swing
        "4600-4640/10 31 60 60 ff 80 80\n"     // hit while swinging
        "5600-5690/10 31 00 68 80 80 9a\n"     // A: retract
        "6300-6390/10 31 60 68 80 80 9a\n"     // A: ignite
        "7600-12000/10 31 20 e0 80 80 9a\n");  // Home while lit
    ASSERT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(Writes(s), Concat({kStart, kIgnite, kPulse, kRetract, kIgnite, kRetract}));
    // The program read them as sent.
    EXPECT_FALSE(LinesOf(s, "read", "31 20 68 80 80 9a").empty());
    EXPECT_FALSE(LinesOf(s, "read", "31 20 e0 80 80 9a").empty());
}

TEST(ProgramEndToEnd, AfterAnEffectTheNextReadIsFresh) {
    const SessionResult s = RunScripted(kAtRest +
                                        "1000-1090/10 31 00 08 80 80 9a\n"
                                        "2200-12000/10 31 00 80 80 80 9a\n");
    ASSERT_EQ(s.status, 0);
    // The ignite held the loop for 550 ms while about 55 reports queued up;
    // only the newest of them may be acted on.
    const std::vector<HidLogLine> w = LinesOf(s, "write");
    ASSERT_GE(w.size(), 9u);
    const double igniteEnd = w[8].ms;
    for (const HidLogLine& read : LinesOf(s, "read")) {
        // Left aside: the read that watched the pulse, cancelled at its end.
        if (read.ms > igniteEnd && read.rest != "none") {
            EXPECT_GE(read.scriptMs, igniteEnd - 10.0);
            EXPECT_LE(read.ms - read.scriptMs, 10.0 + 2.0);
            break;
        }
    }
    // Reads never go back in time nor deliver a report twice.
    int64_t last = -1;
    for (const HidLogLine& read : LinesOf(s, "read")) {
        if (read.rest == "none") {
            continue;
        }
        EXPECT_GT(read.scriptMs, last);
        last = read.scriptMs;
    }
}

TEST(ProgramEndToEnd, AMissingOrBrokenScriptIsAnErrorNotASilentRemote) {
    const SessionResult missing =
        RunScripted("", SessionOptions{{}, {{"GLOWBRAND_SCRIPT", "/nonexistent/script"}}});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/nonexistent/script"), std::string::npos) << missing.err;

    const SessionResult broken = RunScripted("100 31 zz\n");
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.err.find("line 1"), std::string::npos) << broken.err;
}
