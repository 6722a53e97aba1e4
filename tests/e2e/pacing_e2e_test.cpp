// The loop's pace against scripted remotes that do not report evenly: one
// whose reports come in bursts, as a Bluetooth stack hands over those it
// held back in a stall, and one that falls silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "config.h"
#include "expectations.h"
#include "session.h"

namespace {

// Five reports a millisecond apart (the script's finest step), then a gap
// of 55 ms: a burst every kBurstMs (or every `everyMs`), from fromMs up to
// toMs.
constexpr int kBurstMs = 60;
std::string Bursts(int fromMs, int toMs, const std::vector<std::string>& reports,
                   int everyMs = kBurstMs) {
    std::string script;
    for (int i = 0; i < 5; ++i) {
        script += std::to_string(fromMs + i) + "-" + std::to_string(toMs + i) + "/" +
                  std::to_string(everyMs) + " " + reports[static_cast<size_t>(i)] + "\n";
    }
    return script;
}

const std::string kRest = "31 00 00 80 80 9a";
const std::string kA = "31 00 08 80 80 9a";
const std::string kSwing = "31 00 00 bc 80 80";
const std::string kHit = "31 00 00 ff 80 80";
const std::string kHome = "31 00 80 80 80 9a";

// The loop's own reads, in order: after the start-up flash, leaving out a
// rumble pulse's watcher and cancelled reads. The watcher reads only inside
// its pulse, as long as the pulse ends between two bursts (it does below:
// 550 ms after a burst's first read, or 200 ms after one of its reads). `pulsedAfter` gets, for
// each strike's pulse (one not closing a sweep), the index of the read it followed.
std::vector<HidLogLine> LoopReads(const SessionResult& s, std::vector<size_t>& pulsedAfter) {
    std::vector<HidLogLine> reads;
    size_t writes = 0;
    bool pulsing = false;
    std::string lastWrite;
    for (const HidLogLine& line : s.log) {
        if (line.kind == "write") {
            ++writes;
            if (line.rest == "13 01" && !pulsing && lastWrite.rfind("11 ", 0) != 0 &&
                !reads.empty()) {
                pulsedAfter.push_back(reads.size() - 1);
            }
            pulsing = line.rest == "13 01" || (pulsing && line.rest != "13 00");
            lastWrite = line.rest;
        } else if (line.kind == "read" && line.rest != "none" && writes >= kStart.size() &&
                   !pulsing) {
            reads.push_back(line);
        }
    }
    return reads;
}

// Which reads the blade pulses its rumble after, by its rules: motion is
// first taken in the 80th read counting A's as the first; a swing taken, the
// next hit pulses; after a hit taken, pulsed or not, motion is taken again
// in the 21st read counting the hit's own.
std::vector<size_t> PulsesDue(const std::vector<HidLogLine>& reads, size_t a) {
    std::vector<size_t> pulses;
    for (size_t i = a + kIgnitionIterations - 1; i < reads.size(); ++i) {
        size_t hit = i;
        if (reads[i].rest == kSwing) {
            while (++hit < reads.size() && reads[hit].rest != kHit) {
            }
            if (hit == reads.size()) {
                break;
            }
            pulses.push_back(hit);
        }
        if (reads[hit].rest == kHit) {
            i = hit + kMotionWindow - 1;
        }
    }
    return pulses;
}

}  // namespace

// Of each burst the loop reads the first report and, the shortest iteration
// later, the newest of the rest: never more than the two that a loop with a
// fixed 10 ms pace read, so each window, counted in reads, spans as many
// bursts, as much time, as with that pace (bar the 2 ms by which a burst's
// second read comes sooner). Swings and hits from A to Home show, in the
// pulses of the strikes, where the ignition and each strike's window ended.
TEST(PacingEndToEnd, BurstsOfReportsAfterAStallNeitherShortenNorStretchTheWindows) {
    // Two bursts of swings, then one that ends in a hit, over and over: a
    // window of 20 reads (ten bursts) does not always end in a hit's burst.
    const std::vector<std::string> swings(5, kSwing);
    const std::vector<std::string> swingsThenHit = {kSwing, kSwing, kSwing, kSwing, kHit};
    const int every = 3 * kBurstMs;
    const SessionResult s = RunScripted(
        Bursts(0, 1140, std::vector<std::string>(5, kRest)) +
        Bursts(1200, 1200, std::vector<std::string>(5, kA)) + Bursts(1260, 8400, swings, every) +
        Bursts(1320, 8400, swings, every) + Bursts(1380, 8400, swingsThenHit, every) +
        Bursts(8460, 12000, std::vector<std::string>(5, kHome)));
    ASSERT_EQ(s.status, 0) << s.err;

    std::vector<size_t> pulsedAfter;
    const std::vector<HidLogLine> reads = LoopReads(s, pulsedAfter);
    std::map<int64_t, int> readsOfBurst;  // by the burst's time
    int64_t mostRead = 0;
    for (const HidLogLine& read : reads) {
        const int64_t burst = read.scriptMs / kBurstMs * kBurstMs;
        if (++readsOfBurst[burst] > readsOfBurst[mostRead]) {
            mostRead = burst;
        }
    }
    EXPECT_LE(readsOfBurst[mostRead], 2) << "the burst at " << mostRead << " ms";
    size_t a = 0;
    while (a < reads.size() && reads[a].rest != kA) {
        ++a;
    }
    ASSERT_LT(a + kIgnitionIterations, reads.size());
    EXPECT_EQ(pulsedAfter, PulsesDue(reads, a));
    EXPECT_GE(pulsedAfter.size(), 3u) << "the session ended too soon to show the windows";
    std::printf("ignition: %.0f ms; %zu strikes pulsed\n",
                reads[a + kIgnitionIterations - 1].ms - reads[a].ms, pulsedAfter.size());
}

// The remote falls silent with A held, past the ignition A started, for
// 500 ms more: the loop waits for its next report rather than act on the old
// A again, and reads Home, once the remote sends it, as it arrives.
TEST(PacingEndToEnd, ARemoteSilentWithAHeldTogglesOnceAndHomeQuitsOnceItReportsAgain) {
    const int aMs = 1500;
    const int homeMs = aMs + 550 + 500;
    const SessionResult s =
        RunScripted("0-" + std::to_string(aMs - 10) + "/10 " + kRest + "\n" + std::to_string(aMs) +
                    " " + kA + "\n" + std::to_string(homeMs) + "-9000/10 " + kHome + "\n");
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(Writes(s), Concat({kStart, kIgnite, kRetract}));
    const std::vector<HidLogLine> homes = LinesOf(s, "read", kHome);
    const std::vector<HidLogLine> w = LinesOf(s, "write");
    ASSERT_FALSE(homes.empty());
    ASSERT_EQ(w.size(), kStart.size() + kIgnite.size() + kRetract.size());
    const HidLogLine& ignited = w[kStart.size() + kIgnite.size() - 1];
    const HidLogLine& retract = w[kStart.size() + kIgnite.size()];
    EXPECT_GT(retract.ms, homes[0].ms) << "retracted before Home was read";
    // A start-up slowed past the silence ends the ignition after Home came.
    EXPECT_LT(homes[0].ms - std::max<double>(homeMs, ignited.ms), kScriptedSlack.aboveMs);
    // Quitting while lit lets the off sound play out.
    ASSERT_EQ(s.log.back().kind, "close");
    ExpectSpacing(w.back(), s.log.back(), kQuitPauseMs, kQuitPauseSlack);
}
