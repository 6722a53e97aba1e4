// The WASAPI sound device: its conversion into each mix format, and the
// device itself under wine: without a sound driver (as every test runs), on
// a fake engine that keeps every frame handed to it and, driven by
// pulse_sound.sh, into a private PulseAudio server that is killed and comes
// back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_sound_mixer.h"
#include "fake_wasapi.h"
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

// The longest stretch of a capture that holds the pattern's frames in order
// and unaltered.
size_t LongestPatternRun(const std::string& capture) {
    std::vector<StereoFrame> frames(capture.size() / sizeof(StereoFrame));
    std::memcpy(frames.data(), capture.data(), frames.size() * sizeof(StereoFrame));
    size_t longest = 0;
    size_t run = 0;
    size_t next = 0;  // the pattern's frame that goes on the run
    for (const StereoFrame& frame : frames) {
        const size_t index = static_cast<uint16_t>(frame.left - 1);
        if (run > 0 && next < kFakePatternFrames && frame == FakePatternFrame(next)) {
            ++run;
        } else if (index < kFakePatternFrames && frame == FakePatternFrame(index)) {
            run = 1;
            next = index;
        } else {
            run = 0;
        }
        ++next;
        longest = std::max(longest, run);
    }
    return longest;
}

// What a server can show of the output is that the mixer's frames reach it:
// a tenth of a second of the pattern in one piece. Every frame of it is
// judged at WASAPI itself, on the fake engine: a server may drop frames of
// its own when it runs dry on a busy machine.
constexpr size_t kHeardFrames = 4'800;

// Plays the pattern once the device has been playing for a while (a stream's
// first frames may not reach the monitor) and waits for the recorder to hold
// kHeardFrames of it; the longest run of it recorded.
size_t PlayPatternInto(const std::string& capturePath) {
    const size_t mixed = FakeMixedFrames();
    const auto playing = std::chrono::steady_clock::now() + 10s;
    while (FakeMixedFrames() < mixed + 4'800 && std::chrono::steady_clock::now() < playing) {
        std::this_thread::sleep_for(10ms);
    }
    StartFakePattern();
    size_t run = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (run < kHeardFrames && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        run = LongestPatternRun(ReadFile(capturePath));
    }
    return run;
}

// How a stretch the engine played holds the pattern: silence, then every
// frame of it in order, then silence. `wrong` tells of the first frame that
// is none of these.
struct Heard {
    size_t patternFrames = 0;
    size_t silenceAfter = 0;
    std::string wrong;
};

std::string Told(const PlayedFrame& frame) {
    return frame ? "(" + std::to_string(frame->left) + ", " + std::to_string(frame->right) + ")"
                 : "no frame of the mixer's";
}

Heard Hear(const std::vector<PlayedFrame>& played) {
    const PlayedFrame silence = StereoFrame{0, 0};
    Heard heard;
    for (size_t i = 0; i < played.size(); ++i) {
        const bool inPattern = heard.patternFrames < kFakePatternFrames;
        if (inPattern && played[i] == FakePatternFrame(heard.patternFrames)) {
            ++heard.patternFrames;
        } else if (played[i] == silence && (heard.patternFrames == 0 || !inPattern)) {
            heard.silenceAfter += inPattern ? 0 : 1;
        } else {
            heard.wrong = "frame " + std::to_string(i) + " played is " + Told(played[i]) +
                          ", after " + std::to_string(heard.patternFrames) + " of the pattern";
            break;
        }
    }
    return heard;
}

WAVEFORMATEXTENSIBLE At48k(WAVEFORMATEXTENSIBLE format) {
    format.Format.nSamplesPerSec = 48'000;
    format.Format.nAvgBytesPerSec = 48'000u * format.Format.nBlockAlign;
    return format;
}

WAVEFORMATEXTENSIBLE Pcm16Stereo() {
    WAVEFORMATEXTENSIBLE format{};
    format.Format = {WAVE_FORMAT_PCM, 2, 48'000, 192'000, 4, 16, 0};
    return format;
}

struct EngineRow {
    const char* name;
    FakeEngineShape shape;
};

const EngineRow kEngines[] = {
    {"16-bit PCM stereo, the client's default period", {Pcm16Stereo(), 1'920, 0}},
    {"32-bit float stereo, IAudioClient3's shortest period",
     {At48k(Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 2, 32, 32)), 1'056, 144}},
    {"32-bit float in six channels, a buffer shorter than two periods",
     {At48k(Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 6, 32, 32)), 720, 0}},
};

// Plays the pattern and hears what the engine played from then on, once all
// of it and twice a buffer of silence after it were played (so that the
// output's queue is quiet again), or a frame went wrong. `jumping`: as a new
// sound that jumps the queue, and once more while the pattern is both heard
// and queued, so that the frames dropped unheard are the pattern's.
Heard PlayPatternThrough(FakeWasapiEngine& engine, const EngineRow& row, bool jumping) {
    const size_t from = engine.PlayedCount();
    StartFakePattern();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    if (jumping) {
        SkipSoundDeviceQueue();
        while ((Hear(engine.Played(from)).patternFrames == 0 || engine.QueuedSound() == 0) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        SkipSoundDeviceQueue();
    }
    Heard heard;
    do {
        std::this_thread::sleep_for(10ms);
        heard = Hear(engine.Played(from));
    } while (heard.wrong.empty() && heard.silenceAfter < size_t{2} * row.shape.bufferFrames &&
             std::chrono::steady_clock::now() < deadline);
    return heard;
}

// Whether the engine has played at least `frames`, the last of them silence.
bool EndsInSilence(const FakeWasapiEngine& engine, size_t frames) {
    const size_t played = engine.PlayedCount();
    if (played < frames) {
        return false;
    }
    const std::vector<PlayedFrame> last = engine.Played(played - frames);
    return std::all_of(last.begin(), last.end(), [](const PlayedFrame& frame) {
        return frame == StereoFrame{0, 0};
    });
}

void ExpectWhole(const Heard& heard) {
    EXPECT_EQ(heard.wrong, "");
    EXPECT_EQ(heard.patternFrames, kFakePatternFrames);
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

TEST(WasapiDevice, HandsTheEngineEveryFrameOfTheMixerUnaltered) {
    for (const EngineRow& row : kEngines) {
        SCOPED_TRACE(row.name);
        auto engine = std::make_unique<FakeWasapiEngine>(row.shape);
        ASSERT_TRUE(engine->Registered());
        ASSERT_TRUE(OpenSoundDevice(FakeMixerPull()));
        // A pattern started while no device was open plays out first.
        const auto opening = std::chrono::steady_clock::now() + 10s;
        while (!EndsInSilence(*engine, size_t{2} * row.shape.bufferFrames) &&
               std::chrono::steady_clock::now() < opening) {
            std::this_thread::sleep_for(10ms);
        }
        {
            SCOPED_TRACE("into a running stream");
            ExpectWhole(PlayPatternThrough(*engine, row, false));
        }
        {
            SCOPED_TRACE("jumping the queue");
            const int resets = engine->Resets();
            ExpectWhole(PlayPatternThrough(*engine, row, true));
            EXPECT_GT(engine->Resets(), resets);
        }
        {
            SCOPED_TRACE("after a late, dry wake in quiet, which restarts the stream");
            const int resets = engine->Resets();
            engine->WakeLateAndDry();
            const auto woken = std::chrono::steady_clock::now() + 5s;
            while (engine->Resets() == resets && std::chrono::steady_clock::now() < woken) {
                std::this_thread::sleep_for(10ms);
            }
            EXPECT_GT(engine->Resets(), resets);
            ExpectWhole(PlayPatternThrough(*engine, row, false));
        }
        CloseSoundDevice();
        EXPECT_EQ(engine->Misuses(), std::vector<std::string>{});
        const auto released = std::chrono::steady_clock::now() + 5s;
        while (engine->References() != 0 && std::chrono::steady_clock::now() < released) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(engine->References(), 0);
        if (engine->References() != 0) {
            engine.release();  // a render thread still holds it: left to it
        }
    }
}

TEST(WasapiDevice, PlaysOnWhenTheSoundServerReturns) {
    const std::string dir = SceneDir();
    if (dir.empty()) {
        GTEST_SKIP() << "needs a sound server: run by pulse_sound.sh";
    }
    ASSERT_TRUE(OpenSoundDevice(FakeMixerPull()));
    ASSERT_GE(PlayPatternInto(dir + "/capture.raw"), kHeardFrames);
    Touch(dir + "/playing");  // the script kills the server now, and brings it back
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!Exists(dir + "/back") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(Exists(dir + "/back"));
    EXPECT_GE(PlayPatternInto(dir + "/capture-after.raw"), kHeardFrames);
    EXPECT_TRUE(ReturnsWithin(5s, CloseSoundDevice));
}

}  // namespace
