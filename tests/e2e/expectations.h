// What the program must send to the remote, read by the scripted suite and
// by the VM suite alike: a remote made at kernel level is held to the same
// account as a scripted one.
#pragma once

#include <string>
#include <vector>

#include "session.h"

// The strike's rumble pulse; the start-up and the sweeps are in session.h.
inline const std::vector<std::string> kPulse = {"13 01", "13 00"};

// How far a measured gap may stray from the program's own. Waits are busy
// and never short, so a log written by the program's side needs slack only
// above; a remote that notes a write when it arrives may note one late and
// the next on time, so it needs some below too.
struct Slack {
    double belowMs;
    double aboveMs;
};
inline constexpr Slack kScriptedSlack{0.0, 40.0};

// An end that waits for a thread waits out its limit: a second for the
// probe's reader (kReaderStopMs) or for the sound's close
// (kSoundCloseWaitMs). An end that waits for none came within 400 ms on a
// busy machine (load 4, four slots still decoding) and under the
// sanitizers; how soon it comes is bench/end_latency's to tell.
inline constexpr double kEndWaitedForAThreadMs = 750.0;

// The quit pause is a wait of the loop's own, and the close after it an end
// like any other: held short of a pause taken twice or an end that waited
// for a thread (a busy machine's sanitizer build closed 136 ms after it).
inline constexpr Slack kQuitPauseSlack{0.0, kEndWaitedForAThreadMs};

// Expects `later` to follow `earlier` by ms, within the slack.
void ExpectSpacing(const HidLogLine& earlier, const HidLogLine& later, double ms,
                   Slack slack = kScriptedSlack);

// A whole session: at rest; A ignites at 1000; a swing at 5500 and a hit
// while swinging at 5600; A retracts at 6600 and ignites again at 7600; Home
// from 9000 quits while lit. Each step leaves the one before it a margin for
// a loaded or emulated machine, where the ignition window's 80 loop
// iterations take up to 4 s.
inline const std::string kWholeSessionScript =
    "0-14000/10 31 00 00 80 80 9a\n"
    "1000-1090/10 31 00 08 80 80 9a\n"    // A: ignite
    "5500-5590/10 31 00 00 bc 80 80\n"    // swing
    "5600-5640/10 31 00 00 ff 80 80\n"    // hit while swinging
    "6600-6690/10 31 00 08 80 80 9a\n"    // A: retract
    "7600-7690/10 31 00 08 80 80 9a\n"    // A: ignite
    "9000-14000/10 31 00 80 80 80 9a\n";  // Home while lit

// The writes of that session, in order, and their spacing: the LED steps of
// each sweep, its rumble pulse, the strike's pulse. `writes` are the
// program's own write lines.
void ExpectWholeSession(const std::vector<HidLogLine>& writes, Slack slack = kScriptedSlack);
