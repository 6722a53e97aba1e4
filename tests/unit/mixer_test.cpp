// The mixer pulled by the test itself, through an output that never pulls
// on its own (fake_output.cpp).
#include "sound/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <variant>
#include <vector>

#include "config.h"
#include "sound/sound.h"
#include "wav_images.h"

namespace {

// A tone at the device's rate and one that is resampled on the way.
const WavBytes kFirst = PcmTone(1, 16, 1, 48'000, 0.5, 1000);
const WavBytes kSecond = PcmTone(1, 16, 2, 44'100, 0.5, 440);

struct Mix {
    size_t frames;
};
struct TakeBack {
    size_t frames;
};
struct PlaySecond {};
using Step = std::variant<Mix, TakeBack, PlaySecond>;

// Plays the first tone, runs the steps and returns the frames of the last mix.
std::vector<int16_t> LastMix(const std::vector<Step>& steps) {
    EXPECT_TRUE(PrepareWavImage(kFirst.data(), kFirst.size()));
    EXPECT_TRUE(PrepareWavImage(kSecond.data(), kSecond.size()));
    PlayWavImage(kFirst.data(), kFirst.size());
    std::vector<int16_t> out;
    for (const Step& step : steps) {
        if (const auto* mix = std::get_if<Mix>(&step)) {
            out.assign(mix->frames * 2, 0);
            MixSound(out.data(), mix->frames, kOutputRate);
        } else if (const auto* back = std::get_if<TakeBack>(&step)) {
            UnmixSound(back->frames, kOutputRate);
        } else {
            PlayWavImage(kSecond.data(), kSecond.size());
        }
    }
    CloseSound();
    return out;
}

}  // namespace

// Frames taken back are as if never mixed: what follows, a new sound fading
// the old one out included, is what a straight mix of the frames heard gives.
TEST(Mixer, FramesTakenBackAreMixedAgainAsIfNeverMixed) {
    struct Case {
        const char* what;
        std::vector<Step> takingBack;
        std::vector<Step> straight;
    };
    const std::vector<Case> cases = {
        {"back within the sound playing, then a new one",
         {Mix{1000}, TakeBack{300}, PlaySecond{}, Mix{2000}},
         {Mix{700}, PlaySecond{}, Mix{2000}}},
        {"back past a new sound's first frame: it starts again, the old fading from 700",
         {Mix{1000}, PlaySecond{}, Mix{200}, TakeBack{500}, Mix{2000}},
         {Mix{700}, PlaySecond{}, Mix{2000}}},
        {"back within a new sound",
         {Mix{1000}, PlaySecond{}, Mix{500}, TakeBack{200}, Mix{2000}},
         {Mix{1000}, PlaySecond{}, Mix{300}, Mix{2000}}},
        {"back within a mix of one buffer, then a new one at once",
         {Mix{1000}, TakeBack{1}, PlaySecond{}, Mix{500}},
         {Mix{999}, PlaySecond{}, Mix{500}}},
    };
    for (const Case& c : cases) {
        const std::vector<int16_t> heard = LastMix(c.takingBack);
        const std::vector<int16_t> straight = LastMix(c.straight);
        ASSERT_EQ(heard.size(), straight.size()) << c.what;
        EXPECT_EQ(heard, straight) << c.what;
        EXPECT_NE(straight, std::vector<int16_t>(straight.size(), 0)) << c.what;
    }
}

// The cut-off sound fades over the whole kCutFadeFrames whatever the device's
// buffer: mixed a frame, 64 frames (PipeWire's quantum where another client
// asks for low latency) or 100 at a time, the frames after a cut are those of
// one buffer longer than the fade.
TEST(Mixer, ACutOffSoundFadesWholeInBuffersShorterThanTheFade) {
    const size_t afterCut = 2 * kCutFadeFrames;
    const auto cut = [afterCut](size_t buffer) {
        EXPECT_TRUE(PrepareWavImage(kFirst.data(), kFirst.size()));
        EXPECT_TRUE(PrepareWavImage(kSecond.data(), kSecond.size()));
        PlayWavImage(kFirst.data(), kFirst.size());
        std::vector<int16_t> out(1000 * 2);
        MixSound(out.data(), 1000, kOutputRate);
        PlayWavImage(kSecond.data(), kSecond.size());
        out.assign(afterCut * 2, 0);
        for (size_t at = 0; at < afterCut; at += buffer) {
            MixSound(out.data() + at * 2, std::min(buffer, afterCut - at), kOutputRate);
        }
        CloseSound();
        return out;
    };
    const std::vector<int16_t> whole = cut(afterCut);
    for (const size_t buffer : {size_t{1}, size_t{64}, size_t{100}}) {
        EXPECT_EQ(cut(buffer), whole) << buffer << " frames a buffer";
    }
}
