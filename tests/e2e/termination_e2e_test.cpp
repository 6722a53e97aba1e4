// Ctrl+C, a termination request or a closed terminal, at awkward moments of a
// scripted session: the program ends promptly, waiting for no thread, with
// 128 + the signal's number, the remote's motor off, its LEDs dark and the
// link closed, last.
#include <gtest/gtest.h>

#include <csignal>

#include "expectations.h"
#include "session.h"

namespace {

const std::string kAtRest = "0-9000/10 31 00 00 80 80 9a\n";
const std::vector<std::string> kQuiet = {"13 00", "11 00"};

// Plays script and sends signal delayMs after the log first shows `logged`.
SessionResult RunSignalled(const std::string& script, int signal, const std::string& logged,
                           int delayMs) {
    SessionOptions options;
    options.timeoutMs = 8000;
    return RunScriptedWithSignal(script, SessionSignal{signal, logged, delayMs}, options);
}

void ExpectEndedBySignal(const SessionResult& s, int signal) {
    EXPECT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 128 + signal);
    EXPECT_GE(s.signalToEndMs, 0.0);
    EXPECT_LT(s.signalToEndMs, kEndWaitedForAThreadMs) << "the end waited for a thread";
    ASSERT_FALSE(s.log.empty());
    EXPECT_EQ(s.log.back().kind, "close") << "the close comes last: " << s.log.back().rest;
    EXPECT_TRUE(LinesOf(s, "read", "error").empty()) << "no read of a closed link";
    EXPECT_TRUE(LinesOf(s, "write", "error").empty());
}

}  // namespace

// A is held, so that a start-up a busy machine slowed still reads it, but
// not past the ignition's 550 ms, so it toggles once.
TEST(TerminationEndToEnd, CtrlCInsideTheIgnitionRumbleSwitchesTheMotorOff) {
    const SessionResult s =
        RunSignalled(kAtRest + "300-800/10 31 00 08 80 80 9a\n", SIGINT, "write 13 01", 150);
    ExpectEndedBySignal(s, SIGINT);
    const std::vector<std::string> ignitionCut = {"11 10", "11 30", "11 70", "11 f0", "13 01"};
    EXPECT_EQ(Writes(s), Concat({kStart, ignitionCut, kQuiet}));
    const std::vector<HidLogLine> rumble = LinesOf(s, "write", "13 01");
    const std::vector<HidLogLine> off = LinesOf(s, "write", "13 00");
    ASSERT_EQ(rumble.size(), 1u);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_LT(off[0].ms - rumble[0].ms, 400.0) << "the pulse was cut short";
}

// The remote stops reporting after the banner: the main thread waits in a
// read that only the signal can end.
TEST(TerminationEndToEnd, TerminateWhileWaitingForASilentRemote) {
    const SessionResult s = RunSignalled("0-700/10 31 00 00 80 80 9a\n", SIGTERM, "@700", 200);
    ExpectEndedBySignal(s, SIGTERM);
    EXPECT_EQ(Writes(s), Concat({kStart, kQuiet}));
    EXPECT_EQ(LinesOf(s, "read", "none").size(), 1u) << "the waiting read is cancelled once";
}

// Inside the start-up probe's window, while its reader reads: the reader is
// stopped before the link closes, and the greeting never completes. (Under
// ThreadSanitizer, which holds a signal back until the program next calls
// into the system, the flash may have begun.)
TEST(TerminationEndToEnd, HangUpDuringTheProbeStopsTheReaderBeforeTheClose) {
    const SessionResult s =
        RunSignalled("0-3000/10 31 00 00 80 80 9a\n", SIGHUP, "write 12 00 31", 20);
    ExpectEndedBySignal(s, SIGHUP);
    std::vector<std::string> writes = Writes(s);
    if (writes.size() == 4 && writes[1] == "11 f0") {
        writes.erase(writes.begin() + 1);
    }
    EXPECT_EQ(writes, Concat({{"12 00 31"}, kQuiet}));
    EXPECT_EQ(s.out, "");
}
