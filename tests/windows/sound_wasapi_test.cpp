// The WASAPI sound device: its conversion into each mix format, and the
// device itself under wine, without a sound driver (as every test runs) and,
// driven by pulse_sound.sh, into a private PulseAudio server whose output is
// recorded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_sound_mixer.h"
#include "pulse_underruns.h"
#include "read_file.h"
#include "sound/output/sound_device.h"
#include "sound/output/wasapi/mix_format.h"

namespace {

using namespace std::chrono_literals;

WAVEFORMATEXTENSIBLE Extensible(const GUID& subFormat, WORD channels, WORD bits, WORD validBits) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = 44'100;
    format.Format.wBitsPerSample = bits;
    format.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = validBits;
    format.SubFormat = subFormat;
    return format;
}

template <typename T>
std::vector<T> Converted(const int16_t* stereo, size_t frames, const MixLayout& layout) {
    std::vector<uint8_t> bytes(frames * static_cast<size_t>(layout.bytesPerFrame), 0xAA);
    ConvertMixFrames(stereo, frames, layout, bytes.data());
    std::vector<T> samples(bytes.size() / sizeof(T));
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    return samples;
}

TEST(WasapiMixFormat, ReadsTheFormatsTheEngineHandsOut) {
    const GUID floatType = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    const GUID pcmType = KSDATAFORMAT_SUBTYPE_PCM;
    MixLayout layout;
    WAVEFORMATEXTENSIBLE format = Extensible(floatType, 2, 32, 32);
    ASSERT_TRUE(ReadMixLayout(format.Format, layout));
    EXPECT_EQ(layout.kind, SampleKind::Float32);
    EXPECT_EQ(layout.channels, 2);
    EXPECT_EQ(layout.rate, 44'100);
    format = Extensible(pcmType, 6, 32, 24);  // 24 valid bits in 32
    ASSERT_TRUE(ReadMixLayout(format.Format, layout));
    EXPECT_EQ(layout.kind, SampleKind::Int32);
    format = Extensible(pcmType, 1, 24, 24);
    ASSERT_TRUE(ReadMixLayout(format.Format, layout));
    EXPECT_EQ(layout.kind, SampleKind::Int24);
    EXPECT_EQ(layout.bytesPerFrame, 3);

    WAVEFORMATEX plain{WAVE_FORMAT_PCM, 2, 48'000, 192'000, 4, 16, 0};
    ASSERT_TRUE(ReadMixLayout(plain, layout));
    EXPECT_EQ(layout.kind, SampleKind::Int16);

    const MixLayout untouched = layout;
    WAVEFORMATEX eightBit{WAVE_FORMAT_PCM, 2, 48'000, 96'000, 2, 8, 0};
    WAVEFORMATEX wrongBlock{WAVE_FORMAT_PCM, 2, 48'000, 192'000, 6, 16, 0};
    WAVEFORMATEX doubles{WAVE_FORMAT_IEEE_FLOAT, 2, 48'000, 768'000, 16, 64, 0};
    WAVEFORMATEX adpcm{WAVE_FORMAT_ADPCM, 2, 48'000, 48'000, 2048, 4, 32};
    format = Extensible(pcmType, 2, 16, 16);
    format.Format.cbSize = 0;  // too short to hold its subformat
    for (const WAVEFORMATEX* refused : {&eightBit, &wrongBlock, &doubles, &adpcm, &format.Format}) {
        EXPECT_FALSE(ReadMixLayout(*refused, layout)) << refused->wFormatTag;
        EXPECT_EQ(layout.kind, untouched.kind);
    }
}

TEST(WasapiMixFormat, EachSampleKindGetsTheMixersSamplesExactly) {
    const int16_t stereo[] = {-32768, 32767, 1, -1, 0x1234, -0x1234};
    MixLayout layout{SampleKind::Float32, 2, 48'000, 8};
    // What a float engine turns back into 16 bits must be the sample itself.
    EXPECT_EQ(Converted<float>(stereo, 3, layout),
              (std::vector<float>{-1.0f, 32767 / 32768.0f, 1 / 32768.0f, -1 / 32768.0f,
                                  0x1234 / 32768.0f, -0x1234 / 32768.0f}));
    layout = {SampleKind::Int16, 1, 48'000, 2};  // mono: the left alone
    EXPECT_EQ(Converted<int16_t>(stereo, 3, layout), (std::vector<int16_t>{-32768, 1, 0x1234}));
    layout = {SampleKind::Int32, 3, 48'000, 12};  // past the second channel: silence
    EXPECT_EQ(Converted<int32_t>(stereo, 2, layout),
              (std::vector<int32_t>{-32768 * 65536, 32767 * 65536, 0, 65536, -65536, 0}));
    layout = {SampleKind::Int24, 2, 48'000, 6};
    EXPECT_EQ(Converted<uint8_t>(stereo + 4, 1, layout),
              (std::vector<uint8_t>{0, 0x34, 0x12, 0, 0xCC, 0xED}));
}

// Runs `call` on a thread of its own and says whether it returned in time.
bool ReturnsWithin(std::chrono::milliseconds bound, void (*call)()) {
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID body) -> DWORD {
            reinterpret_cast<void (*)()>(body)();
            return 0;
        },
        reinterpret_cast<LPVOID>(call), 0, nullptr);
    const bool returned =
        WaitForSingleObject(thread, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return returned;
}

// Where pulse_sound.sh wants the device's scenes played; "" without it.
std::string SceneDir() {
    const char* dir = std::getenv("GLOWBRAND_SOUND_SCENE_DIR");
    return dir == nullptr ? "" : std::string("Z:") + dir;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Touch(const std::string& path) {
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

// A sound that starts a stream or jumps its queue is mixed by the server
// into frames its sink had rendered ahead: a card plays them, but the
// monitor had already passed those on, so the recording lacks the sound's
// first frames, as many as the sink renders ahead. That follows the
// recorder's latency: with pulse_sound.sh's 10 ms, 219 to 227 frames were
// lost so (and 80 to 83 with 2 ms). A stream that ran dry on a busy machine
// comes back the same way: up to 229 frames lost after the silence.
constexpr size_t kMonitorLostFrames = 288;

// Where the pattern's `nth` playing in the capture (0: the first) ends: the
// frame after the last heard of it in order and unaltered, from the first
// heard, which must be among its first `lost` + 1. Silence between them is
// passed over: a server starved on a busy machine plays silence, then the
// frames it waited for, or after `dryRuns` of those times (as many as the
// server logged underruns) the frames from up to kMonitorLostFrames further
// on. 0 when no such playing is there.
size_t PatternEndIn(const std::string& capture, int nth, size_t lost, int dryRuns) {
    std::vector<StereoFrame> frames(capture.size() / sizeof(StereoFrame));
    std::memcpy(frames.data(), capture.data(), frames.size() * sizeof(StereoFrame));
    const StereoFrame silence{0, 0};
    // The index of `frame` where it is the pattern's, from `from` up to
    // `ahead` further on; SIZE_MAX otherwise.
    const auto indexOf = [](const StereoFrame& frame, size_t from, size_t ahead) {
        const size_t index = static_cast<uint16_t>(frame.left - 1);
        return index >= from && index - from <= ahead && frame == FakePatternFrame(index)
                   ? index
                   : SIZE_MAX;
    };
    size_t at = 0;
    size_t end = 0;
    for (int played = 0; played <= nth; ++played) {
        while (at < frames.size() && indexOf(frames[at], 0, lost) == SIZE_MAX) {
            ++at;
        }
        end = at < frames.size() ? indexOf(frames[at], 0, lost) : 0;
        int gapsLeft = dryRuns;
        bool afterSilence = false;
        for (; at < frames.size() && end < kFakePatternFrames; ++at) {
            if (frames[at] == FakePatternFrame(end)) {
                ++end;
                afterSilence = false;
            } else if (frames[at] == silence) {
                afterSilence = true;
            } else {
                const size_t resumed = afterSilence && gapsLeft > 0
                                           ? indexOf(frames[at], end, kMonitorLostFrames)
                                           : SIZE_MAX;
                if (resumed == SIZE_MAX) {
                    break;
                }
                end = resumed + 1;
                --gapsLeft;
                afterSilence = false;
            }
        }
    }
    return end;
}

// Plays the pattern once the device has been playing for a while (a stream's
// first frames do not reach the monitor, as above), as a new sound that jumps
// the device's queue where `jumping`, and waits for the recorder to hold all
// of its `nth` playing.
size_t PlayPatternInto(const std::string& capturePath, bool jumping = false, int nth = 0) {
    const size_t mixed = FakeMixedFrames();
    const auto playing = std::chrono::steady_clock::now() + 10s;
    while (FakeMixedFrames() < mixed + 4'800 && std::chrono::steady_clock::now() < playing) {
        std::this_thread::sleep_for(10ms);
    }
    const int underrunsBefore = PulseUnderruns("Z:");
    StartFakePattern();
    if (jumping) {
        SkipSoundDeviceQueue();
    }
    const size_t lost = jumping ? kMonitorLostFrames : 0;
    size_t end = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (end < kFakePatternFrames && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        const int dryRuns = PulseUnderruns("Z:") - underrunsBefore;
        end = PatternEndIn(ReadFile(capturePath), nth, lost, dryRuns);
    }
    return end;
}

TEST(WasapiDevice, WithoutASoundDriverOpensAndClosesQuietlyAndPromptly) {
    EXPECT_TRUE(OpenSoundDevice(FakeMixerPull()));
    EXPECT_TRUE(OpenSoundDevice(FakeMixerPull()));  // open already: nothing to do
    StartFakePattern();                             // the lock works with no device behind it
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));  // closed already
    EXPECT_TRUE(OpenSoundDevice(FakeMixerPull()));
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));
}

TEST(WasapiDevice, EveryFrameReachesTheSoundServerUnaltered) {
    const std::string dir = SceneDir();
    if (dir.empty()) {
        GTEST_SKIP() << "needs a sound server: run by pulse_sound.sh";
    }
    ASSERT_TRUE(OpenSoundDevice(FakeMixerPull()));
    EXPECT_EQ(PlayPatternInto(dir + "/capture.raw"), kFakePatternFrames);
    EXPECT_EQ(FakeMixRate(), 48'000);  // the server's own rate: no conversion on the way
    // A new sound starts the queue again at its head, and loses nothing there.
    EXPECT_EQ(PlayPatternInto(dir + "/capture.raw", true, 1), kFakePatternFrames);
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));
}

TEST(WasapiDevice, PlaysOnWhenTheSoundServerReturns) {
    const std::string dir = SceneDir();
    if (dir.empty()) {
        GTEST_SKIP() << "needs a sound server: run by pulse_sound.sh";
    }
    ASSERT_TRUE(OpenSoundDevice(FakeMixerPull()));
    ASSERT_EQ(PlayPatternInto(dir + "/capture.raw"), kFakePatternFrames);
    Touch(dir + "/playing");  // the script kills the server now, and brings it back
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!Exists(dir + "/back") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(Exists(dir + "/back"));
    EXPECT_EQ(PlayPatternInto(dir + "/capture-after.raw"), kFakePatternFrames);
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));
}

}  // namespace
