// Sounds that take long to decode (four slots full of IMA ADPCM, about a
// second of the worker's time together) never hold the program: not its
// loop, not its end on a signal, not its end after a message.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "config.h"
#include "expectations.h"
#include "session.h"
#include "wav_images.h"

namespace {

// One full slot of IMA ADPCM: 256-byte blocks up to the load limit.
const std::string& SlowSound() {
    static const std::string image = [] {
        const size_t headerBytes = WavImage(ImaFormat(), {}).size();
        const WavBytes wav =
            WavImage(ImaFormat(), ImaBlocks((kSoundLoadLimit - headerBytes) / 256));
        return std::string(wav.begin(), wav.end());
    }();
    return image;
}

SessionOptions WithSlowSounds() {
    SessionOptions options;
    options.soundFiles = false;
    for (const char* name : {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"}) {
        options.files.emplace_back(name, SlowSound());
    }
    options.timeoutMs = 20'000;
#if defined(__SANITIZE_ADDRESS__)
    // The leak check at exit, left out of the time to end: it scans every
    // slot and every decoded sound, some hundred megabytes here.
    const char* given = std::getenv("ASAN_OPTIONS");
    options.env.emplace_back("ASAN_OPTIONS",
                             (given != nullptr ? std::string(given) + ":" : "") + "detect_leaks=0");
#endif
    return options;
}

}  // namespace

// A held from the banner on: the first read of it in the loop ignites at
// once, whether or not the on sound is decoded yet.
TEST(SlowSoundEndToEnd, APressRightAfterTheBannerIgnitesAtOnce) {
    const SessionResult s = RunScripted(
        "0-6000/10 31 00 00 80 80 9a\n"
        "300-3000/10 31 00 08 80 80 9a\n"
        "3000-6000/10 31 00 80 80 80 9a\n",
        WithSlowSounds());
    ASSERT_EQ(s.status, 0) << s.err;
    // The loop begins after the flash's last write; the probe's reader may
    // have read A before.
    size_t at = 0;
    int startWrites = 0;
    for (; at < s.log.size() && startWrites < 3; ++at) {
        startWrites += s.log[at].kind == "write" ? 1 : 0;
    }
    for (; at < s.log.size() && s.log[at].rest != "31 00 08 80 80 9a"; ++at) {
    }
    ASSERT_LT(at, s.log.size()) << "A was not read after the banner";
    const HidLogLine& press = s.log[at];
    for (; at < s.log.size() && s.log[at].kind != "write"; ++at) {
    }
    ASSERT_LT(at, s.log.size()) << "A did not ignite";
    EXPECT_EQ(s.log[at].rest, "11 10");
    // A play that waits for the whole queue holds the ignition for seconds;
    // one that waits for the on sound alone, decoded first, 30 to 230 ms on
    // a quiet machine. The bound is the slack any effect's start has.
    EXPECT_LT(s.log[at].ms - press.ms, kScriptedSlack.aboveMs)
        << "the ignition waited for the on sound";
    std::printf("A read at %.1f ms, first LED write %.1f ms later\n", press.ms,
                s.log[at].ms - press.ms);
}

// Ctrl+C inside the probe, while the worker is still decoding: the end
// neither waits for the file being decoded nor for those queued behind it,
// nor for the probe's reader. An end that waits for the queue comes 1.5 s
// late, for the reader 1 s; for the one file, 350 ms in the plain build,
// where a busy machine's end reaches 400 ms, but 2 to 3 s under the
// sanitizers, which catch it.
TEST(SlowSoundEndToEnd, CtrlCDuringTheProbeWaitsNeitherForDecodingNorForTheReader) {
    const SessionResult s =
        RunScriptedWithSignal("0-6000/10 31 00 00 80 80 9a\n",
                              SessionSignal{SIGINT, "write 12 00 31", 20}, WithSlowSounds());
    EXPECT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 128 + SIGINT);
    EXPECT_GE(s.signalToEndMs, 0.0);
    EXPECT_LT(s.signalToEndMs, kEndWaitedForAThreadMs) << "the end waited for decoding";
    ASSERT_FALSE(s.log.empty());
    EXPECT_EQ(s.log.back().kind, "close");
    std::printf("ended %.1f ms after the signal\n", s.signalToEndMs);
}

// No remote: the message comes at once, and Enter, typed as soon as it is
// there, ends the program as promptly.
TEST(SlowSoundEndToEnd, WithoutARemoteTheMessageAndTheEndWaitForNoDecoding) {
    SessionSignal enter;
    enter.whenLogged = "057e 0330";
    enter.keys = "\r";
    const SessionResult s = RunScriptedWithSignal("absent\n", enter, WithSlowSounds());
    EXPECT_FALSE(s.timedOut);
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err, "Wii-Remote not found.\n");
    EXPECT_GE(s.signalToEndMs, 0.0);
    EXPECT_LT(s.signalToEndMs, kEndWaitedForAThreadMs) << "the end waited for decoding";
    std::printf("ended %.1f ms after Enter\n", s.signalToEndMs);
}
