// The real sound service, heard through SDL's disk driver: what reaches the
// "device" lands in a scratch file, and the tests look at the signal there.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "config.h"
#include "platform/sdl/sdl_lock.h"
#include "read_file.h"
#include "sound/output/sdl/sdl_output.h"
#include "sound/sound.h"
#include "wav_images.h"
#include "wav_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr double kToneHz = 1000;

// Plays through the disk driver and returns the left channel of what the
// device was handed. `plays` runs with the device writing in real time.
std::vector<int16_t> Capture(const std::function<void()>& plays) {
    char path[] = "/tmp/glowbrand-capture-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path, 1);
    plays();
    CloseSound();
    const std::string raw = ReadFile(path);
    std::remove(path);
    std::vector<int16_t> left(raw.size() / 4);
    for (size_t i = 0; i < left.size(); ++i) {
        std::memcpy(&left[i], raw.data() + i * 4, 2);
    }
    return left;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Segment {
    size_t begin;
    size_t end;  // one past the last frame heard
    double Ms() const {
        return (end - begin) * 1000.0 / kOutputRate;
    }
};

// Runs of sound separated by at least 20 ms of silence.
std::vector<Segment> Segments(const std::vector<int16_t>& x) {
    std::vector<Segment> found;
    const size_t gap = kOutputRate / 50;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::abs(x[i]) < 300) {
            continue;
        }
        if (found.empty() || i - found.back().end > gap) {
            found.push_back({i, i + 1});
        }
        found.back().end = i + 1;
    }
    return found;
}

// Zero crossings per second / 2: the pitch of a clean tone.
double PitchHz(const std::vector<int16_t>& x, size_t begin, size_t end) {
    int crossings = 0;
    int sign = 0;
    for (size_t i = begin; i < end; ++i) {
        const int now = x[i] > 300 ? 1 : x[i] < -300 ? -1 : 0;
        if (now != 0 && sign != 0 && now != sign) {
            ++crossings;
        }
        if (now != 0) {
            sign = now;
        }
    }
    return crossings / 2.0 / ((end - begin) / static_cast<double>(kOutputRate));
}

double PitchHz(const std::vector<int16_t>& x, const Segment& s) {
    return PitchHz(x, s.begin, s.end);
}

constexpr double kBufferMs = kOutputBufferFrames * 1000.0 / kOutputRate;

// The disk driver plays in real time only while its thread gets a processor:
// a sound is given this much more than its length before the next one, so
// that a busy machine cannot make the next cut it short.
constexpr int kSettleMs = 300;

}  // namespace

TEST(SoundService, PlaysEveryEncodingSdlDecodesConvertedToTheDevice) {
    struct Case {
        const char* name;
        Bytes image;
        double ms;
    };
    const std::vector<Case> cases = {
        {"pcm16 mono 44.1k", PcmTone(1, 16, 1, 44100, 0.15), 150},
        {"pcm8 stereo 22.05k", PcmTone(1, 8, 2, 22050, 0.15), 150},
        {"pcm24 mono 96k", PcmTone(1, 24, 1, 96000, 0.15), 150},
        {"pcm32 stereo 48k", PcmTone(1, 32, 2, 48000, 0.15), 150},
        {"float32 mono 16k", PcmTone(3, 32, 1, 16000, 0.15), 150},
        {"pcm16 5.1 48k", PcmTone(1, 16, 6, 48000, 0.15), 150},
        {"pcm16 12 channels 32k", PcmTone(1, 16, 12, 32000, 0.15), 150},
        {"a-law mono", LawSquare(6, 0xAA, 0x2A, 1, 0.15), 150},
        {"mu-law stereo", LawSquare(7, 0x80, 0x00, 2, 0.15), 150},
        {"ima adpcm mono", WavImage(ImaFormat(), ImaBlocks(3)), 3 * 505 / 8.0},
        {"ms adpcm mono", MsAdpcm(3), 3 * 500 / 8.0},
    };
    std::vector<int16_t> heard = Capture([&] {
        for (const Case& c : cases) {
            EXPECT_TRUE(PrepareWavImage(c.image.data(), c.image.size())) << c.name;
        }
        for (const Case& c : cases) {
            PlayWavImage(c.image.data(), c.image.size());
            SleepMs(static_cast<int>(c.ms) + kSettleMs);
        }
    });
    const std::vector<Segment> segments = Segments(heard);
    ASSERT_EQ(segments.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_NEAR(segments[i].Ms(), cases[i].ms, 3.0) << cases[i].name;
        EXPECT_NEAR(PitchHz(heard, segments[i]), kToneHz, 60.0) << cases[i].name;
    }
}

TEST(SoundService, AnImageItCannotPlaySoundsTheAlertToneInstead) {
    const Bytes good = PcmTone(1, 16, 1, 8000, 0.1);
    Bytes truncatedFormat(good.begin(), good.begin() + 30);
    Bytes formatPastTheEnd = good;
    formatPastTheEnd[16] = 0xF0;  // fmt chunk size
    Bytes dataBeforeFormat;
    PutTag(dataBeforeFormat, "RIFF");
    PutLe(dataBeforeFormat, 40, 4);
    PutTag(dataBeforeFormat, "WAVE");
    PutTag(dataBeforeFormat, "data");
    PutLe(dataBeforeFormat, 4, 4);
    PutLe(dataBeforeFormat, 0, 4);
    dataBeforeFormat.insert(dataBeforeFormat.end(), good.begin() + 12, good.begin() + 36);
    Bytes notRiff = good;
    std::memcpy(notRiff.data(), "OggS", 4);
    Bytes notWave = good;
    std::memcpy(notWave.data() + 8, "AVI ", 4);

    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"not RIFF", notRiff},
        {"RIFF but not WAVE", notWave},
        {"only the RIFF header", Bytes(good.begin(), good.begin() + 12)},
        {"cut inside the fmt chunk", truncatedFormat},
        {"fmt chunk claiming more than there is", formatPastTheEnd},
        {"data before fmt", dataBeforeFormat},
        {"float64", WavImage({3, 1, 8000, 64, 8, {}}, Bytes(8000, 0))},
        {"gsm 6.10", WavImage({0x31, 1, 8000, 0, 65, {2, 0, 64, 1}}, Bytes(650, 0x55))},
        {"12-bit pcm", WavImage({1, 1, 8000, 12, 2, {}}, Bytes(800, 0x11))},
        {"no channels", WavImage({1, 0, 8000, 16, 2, {}}, Bytes(800, 0x11))},
    };
    const Bytes zeros(64, 0);
    std::vector<int16_t> heard = Capture([&] {
        for (const auto& [name, image] : cases) {
            // Exactly sized copies: a read past the end is a sanitizer error.
            const Bytes copy = image;
            const uint8_t* at = copy.empty() ? zeros.data() : copy.data();
            EXPECT_FALSE(PrepareWavImage(at, copy.size())) << name;
            PlayWavImage(at, copy.size());
            SleepMs(kAlertToneMs + kSettleMs);
        }
    });
    const std::vector<Segment> segments = Segments(heard);
    ASSERT_EQ(segments.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        // The tone fades out, so its audible end comes a little early.
        EXPECT_NEAR(segments[i].Ms(), kAlertToneMs, 25.0) << cases[i].first;
        EXPECT_NEAR(PitchHz(heard, segments[i]), kAlertToneHz, 40.0) << cases[i].first;
    }
}

TEST(SoundService, ADataChunkClaimingMoreThanThereIsPlaysWhatIsThere) {
    // A tiny ADPCM file claiming almost 4 GB once made the decoder allocate
    // all of it; it is cut to the two blocks that are really there.
    const Bytes huge = WavImage(ImaFormat(), ImaBlocks(2), 0xFFFFFFF0);
    Bytes truncated = PcmTone(1, 16, 2, 44100, 0.1);
    truncated.erase(truncated.end() - 44100 / 20 * 4, truncated.end());  // the last 50 ms lost
    Bytes riffSizeZero = PcmTone(1, 16, 1, 48000, 0.08);
    riffSizeZero[4] = riffSizeZero[5] = riffSizeZero[6] = riffSizeZero[7] = 0;

    const std::vector<std::pair<Bytes, double>> cases = {
        {huge, 2 * 505 / 8.0}, {truncated, 50}, {riffSizeZero, 80}};
    std::vector<int16_t> heard = Capture([&] {
        for (const auto& [image, ms] : cases) {
            const Bytes copy = image;
            EXPECT_TRUE(PrepareWavImage(copy.data(), copy.size()));
            PlayWavImage(copy.data(), copy.size());
            SleepMs(static_cast<int>(ms) + kSettleMs);
        }
    });
    const std::vector<Segment> segments = Segments(heard);
    ASSERT_EQ(segments.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_NEAR(segments[i].Ms(), cases[i].second, 3.0) << "case " << i;
        EXPECT_NEAR(PitchHz(heard, segments[i]), kToneHz, 60.0) << "case " << i;
    }
}

TEST(SoundService, ANewSoundCutsOffTheOnePlayingAndPlaysWhole) {
    const Bytes longLow = PcmTone(1, 16, 1, 48000, 1.0, 500);
    const Bytes shortHigh = PcmTone(1, 16, 1, 48000, 0.2, 2000);
    const Bytes broken(40, 0x42);
    const Bytes noFrames = PcmTone(1, 16, 2, 44100, 0.0);
    std::vector<int16_t> heard = Capture([&] {
        ASSERT_TRUE(PrepareWavImage(longLow.data(), longLow.size()));
        PlayWavImage(longLow.data(), longLow.size());
        SleepMs(200);
        // Not prepared before: played once the worker has decoded it.
        PlayWavImage(shortHigh.data(), shortHigh.size());
        SleepMs(400);
        PlayWavImage(longLow.data(), longLow.size());
        SleepMs(200);
        PlayWavImage(broken.data(), broken.size());
        SleepMs(400);
        PlayWavImage(longLow.data(), longLow.size());
        SleepMs(200);
        PlayWavImage(noFrames.data(), noFrames.size());
        SleepMs(200);
    });
    const std::vector<Segment> segments = Segments(heard);
    ASSERT_EQ(segments.size(), 3u);

    // First: low, cut at a buffer's start by the high one, which plays whole.
    const Segment& first = segments[0];
    size_t cut = first.begin;
    while (cut < first.end && PitchHz(heard, cut, cut + kOutputBufferFrames) < 1000) {
        cut += kOutputBufferFrames;
    }
    ASSERT_LT(cut, first.end);
    EXPECT_EQ((cut - first.begin) % kOutputBufferFrames, 0u);
    // How much of it was heard depends on how much processor the audio
    // thread got in the 200 ms; what matters is that it played, then stopped.
    EXPECT_GT((cut - first.begin) * 1000.0 / kOutputRate, 50.0);
    EXPECT_NEAR((first.end - cut) * 1000.0 / kOutputRate, 200.0, 1.0);
    const size_t afterFade = cut + kCutFadeFrames;
    EXPECT_NEAR(PitchHz(heard, afterFade, first.end), 2000, 30);

    // Second: low again, cut by the alert tone.
    const Segment& second = segments[1];
    cut = second.begin;
    while (cut < second.end && PitchHz(heard, cut, cut + kOutputBufferFrames) < 700) {
        cut += kOutputBufferFrames;
    }
    ASSERT_LT(cut, second.end);
    EXPECT_GT((cut - second.begin) * 1000.0 / kOutputRate, 50.0);
    EXPECT_NEAR(PitchHz(heard, cut + kCutFadeFrames, second.end), kAlertToneHz, 40.0);
    EXPECT_NEAR((second.end - cut) * 1000.0 / kOutputRate, kAlertToneMs, 25.0);

    // Third: low again, silenced by a sound of no frames.
    EXPECT_GT(segments[2].Ms(), 50.0);
    EXPECT_LT(segments[2].Ms(), 500.0) << "the whole 1 s sound played";
    EXPECT_NEAR(PitchHz(heard, segments[2]), 500, 30);
}

// Handed to the worker, a sound is played as soon as it is ready: a play
// that comes first is kept, even behind a longer one, and it is heard whole
// from its first frame. A play overtaken before its sound was ready is
// never heard.
TEST(SoundService, ASoundPreparedAheadPlaysWholeOnceReady) {
    const Bytes longOne = PcmTone(1, 8, 2, 44100, 20.0, 500);
    const Bytes overtaken = PcmTone(1, 16, 1, 22050, 0.15, 2000);
    const Bytes tone = PcmTone(1, 16, 1, 22050, 0.15);
    std::vector<int16_t> heard = Capture([&] {
        PrepareWavImageAhead(longOne.data(), longOne.size());
        PrepareWavImageAhead(overtaken.data(), overtaken.size());
        PrepareWavImageAhead(tone.data(), tone.size());
        PlayWavImage(overtaken.data(), overtaken.size());
        PlayWavImage(tone.data(), tone.size());
        SleepMs(150 + kSettleMs);
    });
    const std::vector<Segment> segments = Segments(heard);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_NEAR(segments[0].Ms(), 150, 3.0);
    EXPECT_NEAR(PitchHz(heard, segments[0]), kToneHz, 60.0);
}

// The device opens on a thread of its own while the main thread may be
// inside a message box, and SDL takes neither from two threads at once: held
// as a message box holds it, the SDL lock keeps the device from opening, and
// a prepare and a play still return. It opens once the lock is let go.
TEST(SoundService, TheDeviceIsNeverOpenedWhileAMessageIsShown) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const Bytes tone = PcmTone(1, 16, 1, 8000, 0.05);
    const auto driverStarted = [] {
        const SdlLock sdl;
        return SDL_GetCurrentAudioDriver() != nullptr;
    };
    LockSdl();
    EXPECT_TRUE(PrepareWavImage(tone.data(), tone.size()));
    PlayWavImage(tone.data(), tone.size());
    SleepMs(200);
    const bool openedInside = SDL_GetCurrentAudioDriver() != nullptr;
    UnlockSdl();
    EXPECT_FALSE(openedInside) << "SDL's audio started while the lock was held";
    for (int waited = 0; waited < 2000 && !driverStarted(); waited += 10) {
        SleepMs(10);
    }
    EXPECT_TRUE(driverStarted());
    CloseSound();
}

// What a folder of sounds may hold, judged from the slot as loaded: playable,
// or left to the alert tone. Each image is an exactly sized copy, so that a
// read past its end is a sanitizer error; nothing is played or heard.
TEST(SoundService, HostileImagesAreJudgedWithoutReadingPastThem) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const Bytes good = PcmTone(1, 16, 1, 8000, 0.05);
    Bytes riffClaims4Gb = good;
    std::fill(riffClaims4Gb.begin() + 4, riffClaims4Gb.begin() + 8, 0xFF);
    Bytes noise(4096);
    Bytes headerThenNoise(good.begin(), good.begin() + 12);
    uint32_t state = 2006;
    for (uint8_t& byte : noise) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 16);
    }
    headerThenNoise.insert(headerThenNoise.end(), noise.begin(), noise.end());

    const std::vector<std::tuple<const char*, Bytes, bool>> cases = {
        {"a good one", good, true},
        {"random bytes", noise, false},
        {"a RIFF/WAVE header and then random bytes", headerThenNoise, false},
        {"cut inside the RIFF header", Bytes(good.begin(), good.begin() + 11), false},
        {"no sample rate", WavImage({1, 1, 0, 16, 2, {}}, Bytes(800, 0x11)), false},
        {"no channels", WavImage({1, 0, 8000, 16, 2, {}}, Bytes(800, 0x11)), false},
        {"no bits per sample", WavImage({1, 1, 8000, 0, 2, {}}, Bytes(800, 0x11)), false},
        {"PCM data claiming 4 GB", WavImage({1, 1, 8000, 16, 2, {}}, Bytes(800, 0x11), 0xFFFFFFFF),
         true},
        {"a RIFF size claiming 4 GB", riffClaims4Gb, true},
        // Found by fuzzing: SDL decodes it to no buffer at all.
        {"less than one frame of ten channels",
         WavImage({1, 10, 8000, 16, 20, {}}, Bytes{0x52, 0x49, 0x00}, 0x50), true},
    };
    for (const auto& [name, image, playable] : cases) {
        const Bytes copy = image;
        EXPECT_EQ(PrepareWavImage(copy.data(), copy.size()), playable) << name;
    }
    CloseSound();
}
