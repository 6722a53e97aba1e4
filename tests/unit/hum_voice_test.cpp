// The hum's voice on its own, on loops the test makes: how its level moves
// when the motion steps, and what a device that writes its queue again hears.
#include "sound/hum_voice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config.h"
#include "sound/sound.h"

// The service's worker is not this test's: the loops are made here.
void PrepareWavImageAhead(const uint8_t*, size_t) {}

namespace {

// A device period of SDL's output, the longest the mixer is pulled for.
constexpr size_t kBuffer = 192;
constexpr float kFlatSample = 16000;

// Stand-ins for the bytes of hum0.wav and of the ignition sound.
const uint8_t humImage[1] = {};
const uint8_t edgeImage[1] = {};

// A loop whose every frame is the same: what comes out is its gain times that.
std::vector<int16_t> flatFrames(4800, static_cast<int16_t>(kFlatSample));
// A stereo loop at another rate than the device's, every frame different.
std::vector<int16_t> rampFrames = [] {
    std::vector<int16_t> frames(2 * 1000);
    for (size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<int16_t>(std::lround(12000 * std::sin(0.0123 * i * i)));
    }
    return frames;
}();
DecodedSound flatHum{flatFrames.data(), flatFrames.size(), 1, kOutputRate};
DecodedSound rampHum{rampFrames.data(), rampFrames.size() / 2, 2, 44'100};
// The ignition sound: 0.3 s, so the hum rises over that.
DecodedSound edgeSound{nullptr, 44'100 * 3 / 10, 1, 44'100};
const DecodedSound* loop = &flatHum;

const DecodedSound* Find(const uint8_t* image) {
    if (image == humImage) {
        return loop;
    }
    return image == edgeImage ? &edgeSound : nullptr;
}

// The next frames of the hum alone, interleaved stereo.
std::vector<int16_t> Mix(size_t frames) {
    std::vector<int16_t> out(frames * 2, 0);
    MixHum(out.data(), frames, kOutputRate, Find);
    return out;
}

}  // namespace

// The remote's motion comes a report at a time, in steps: the hum's level
// must glide to each, within one device buffer as across them, or it zips.
TEST(HumVoice, AStepInMotionMovesTheLevelSmoothlyNeverInAJump) {
    loop = &flatHum;
    SetHumImage(humImage, sizeof humImage);
    SetHumEnergy(0);
    SetHumLit(true, edgeImage);
    Mix(kOutputRate * 2);
    struct Step {
        const char* name;
        int32_t energy;
        float settlesAt;  // of the flat loop's level
    };
    const Step steps[] = {{"still to full motion", kHumFullEnergy, 1.0f},
                          {"full motion to still", 0, kHumStillLevel}};
    for (const Step& step : steps) {
        const float before = Mix(kBuffer).back();
        SetHumEnergy(step.energy);
        const std::vector<int16_t> after = Mix(kBuffer * 20);
        float previous = before;
        float largest = 0;
        for (size_t i = 0; i < after.size(); i += 2) {
            largest = std::max(largest, std::abs(after[i] - previous));
            previous = after[i];
        }
        const float goal = kFlatSample * step.settlesAt;
        EXPECT_LT(largest, 0.01f * kFlatSample) << step.name << ": a frame jumps";
        EXPECT_LT(std::abs(after[kBuffer * 2 - 2] - before), 0.25f * std::abs(goal - before))
            << step.name << ": most of the way within one buffer";
        EXPECT_NEAR(Mix(kOutputRate * 2).back(), goal, 0.01f * kFlatSample)
            << step.name << ": where it settles";
    }
}

// PulseAudio and WASAPI write their queue again at each play, taking back
// frames mixed but not heard: mixed again, they must be the frames taken
// back, wherever the hum stood in its loop, its rise and a swell.
TEST(HumVoice, FramesTakenBackAreMixedAgainAsTheyWere) {
    loop = &rampHum;
    SetHumImage(humImage, sizeof humImage);
    SetHumLit(false, edgeImage);
    Mix(kOutputRate);
    struct Case {
        const char* name;
        std::vector<size_t> mixes;  // frames a mix, before taking back
        size_t back;
    };
    const Case cases[] = {{"within the last mix", {1000, 960}, 700},
                          {"across several mixes", {96, 96, 96, 96, 96, 96}, 500},
                          {"all of them", {300, 200}, 500}};
    for (const Case& c : cases) {
        SetHumLit(true, edgeImage);
        SetHumEnergy(kHumFullEnergy);
        std::vector<int16_t> mixed;
        for (size_t frames : c.mixes) {
            const std::vector<int16_t> more = Mix(frames);
            mixed.insert(mixed.end(), more.begin(), more.end());
        }
        UnmixHum(c.back, kOutputRate, Find);
        const std::vector<int16_t> again = Mix(c.back);
        const std::vector<int16_t> takenBack(mixed.end() - static_cast<std::ptrdiff_t>(c.back * 2),
                                             mixed.end());
        EXPECT_EQ(again, takenBack) << c.name;
        EXPECT_NE(again, std::vector<int16_t>(c.back * 2, 0)) << c.name << ": the hum sounded";
        SetHumLit(false, edgeImage);
        SetHumEnergy(0);
        Mix(kOutputRate);
    }
}
