// The sounds as heard: the real program plays four tones of clearly different
// pitch through SDL's disk driver, and the test listens to what it wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <thread>

#include "session.h"
#include "wav_writer.h"

namespace {

// The program's device: 16-bit stereo at 48 kHz, 480-frame buffers (10 ms).
constexpr int kRate = 48000;
constexpr int kBufferFrames = 480;
constexpr double kBufferMs = 10.0;

// On, off, swing, strike: whole numbers of cycles per buffer, so each tone's
// power in a buffer is blind to the others.
constexpr double kToneHz[4] = {300, 2400, 600, 1200};
const char* const kNames[4] = {"on", "off", "swing", "strike"};
const char* const kFiles[4] = {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"};

// A 5 s tone, longer than any gap between two sounds in the session, so that
// each one is still playing when the next cuts it off.
std::string ToneWav(double hz) {
    std::vector<int16_t> samples(5 * kRate);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double v = 0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
        samples[i] = static_cast<int16_t>(std::lround(v * 32767));
    }
    const WavBytes wav = WavImage(FrameFormat(1, 1, kRate, 16), Pcm16Data(samples));
    return std::string(wav.begin(), wav.end());
}

// Power of one frequency in a stretch of the left channel (Goertzel).
double Power(const std::vector<int16_t>& x, size_t begin, size_t count, double hz) {
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double s1 = 0;
    double s2 = 0;
    for (size_t i = begin; i < begin + count; ++i) {
        const double s0 = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// Which tone a buffer holds: -1 for silence.
int ToneOf(const std::vector<int16_t>& x, size_t buffer) {
    int best = -1;
    double bestPower = 1e12;  // well above the noise floor, well below a tone
    for (int t = 0; t < 4; ++t) {
        const double p = Power(x, buffer * kBufferFrames, kBufferFrames, kToneHz[t]);
        if (p > bestPower) {
            best = t;
            bestPower = p;
        }
    }
    return best;
}

struct Seen {
    double wallMs;  // test clock, when the poll saw it
    double value;   // file size in bytes, or a log line's own time
};

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The reads of a HID log: "<ms> read <bytes> @<script ms>", as (ms, bytes).
std::vector<std::pair<double, std::string>> Reads(const std::string& log) {
    std::vector<std::pair<double, std::string>> reads;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        double ms = 0;
        std::string kind;
        std::string rest;
        words >> ms >> kind;
        std::getline(words >> std::ws, rest);
        if (kind == "read") {
            reads.push_back({ms, rest.substr(0, rest.find(" @"))});
        }
    }
    return reads;
}

// Times of a HID log's complete lines, in order.
std::vector<double> LogTimes(const std::string& log) {
    std::vector<double> times;
    size_t begin = 0;
    for (size_t end = log.find('\n'); end != std::string::npos; end = log.find('\n', begin)) {
        times.push_back(std::stod(log.substr(begin, end - begin)));
        begin = end + 1;
    }
    return times;
}

}  // namespace

TEST(SoundEndToEnd, WithoutTheSoundFilesTheRemoteIsNeverOpened) {
    SessionOptions none;
    none.soundFiles = false;
    const SessionResult s = RunScripted("0-2000/10 31 00 00 80 80 9a\n", none);
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err, "Wav files are not found.\n");
    EXPECT_EQ(s.out, "");
    EXPECT_TRUE(s.log.empty()) << "the remote was opened";

    // One file short is as bad as none.
    SessionOptions three;
    three.soundFiles = false;
    for (int i = 0; i < 3; ++i) {
        three.files.emplace_back(kFiles[i], ToneWav(kToneHz[i]));
    }
    const SessionResult t = RunScripted("0-2000/10 31 00 00 80 80 9a\n", three);
    EXPECT_EQ(t.status, 1);
    EXPECT_EQ(t.err, "Wav files are not found.\n");
    EXPECT_TRUE(t.log.empty());
}

// The program runs in a thread of the test while the test watches the
// capture file grow and the HID log's lines appear, on one clock. The disk
// driver hands each buffer to the file as it plays it; the sizes seen give
// when each buffer went out, the log lines when each report was read.
TEST(SoundEndToEnd, EachSoundStartsWithinABufferAndAnIterationAndCutsOffTheLast) {
    char scratch[] = "/tmp/glowbrand-heard-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    const std::string capture = std::string(scratch) + "/capture.raw";
    const std::string hidLog = std::string(scratch) + "/hid.log";

    SessionOptions options;
    options.soundFiles = false;
    for (int i = 0; i < 4; ++i) {
        options.files.emplace_back(kFiles[i], ToneWav(kToneHz[i]));
    }
    options.env = {
        {"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", capture}, {"GLOWBRAND_HIDLOG", hidLog}};
    // Presses last two reports, so a loop a little slower than the remote
    // cannot skip one; they come well after start-up, even under sanitizers.
    const std::string script =
        "0-9000/10 31 00 00 80 80 9a\n"
        "1000-1010/10 31 00 08 80 80 9a\n"   // A: on
        "3500-3510/10 31 00 00 bc 80 80\n"   // swing
        "3600-3610/10 31 00 00 ff 80 80\n"   // hit while swinging: strike
        "4500-4510/10 31 00 08 80 80 9a\n"   // A: off
        "5500-9000/10 31 00 80 80 80 9a\n";  // Home, held, dark: quits at once

    SessionResult session;
    std::atomic<bool> done{false};
    std::thread runner([&] {
        session = RunScripted(script, options);
        done = true;
    });
    std::vector<Seen> sizes;
    std::vector<Seen> lines;
    size_t logBytes = 0;
    while (!done) {
        const double now = NowMs();
        std::error_code error;
        const auto size = static_cast<double>(std::filesystem::file_size(capture, error));
        if (!error && (sizes.empty() || size != sizes.back().value)) {
            sizes.push_back({now, size});
        }
        const auto logSize = std::filesystem::file_size(hidLog, error);
        if (!error && logSize != logBytes) {
            logBytes = logSize;
            const std::vector<double> times = LogTimes(ReadFile(hidLog));
            for (size_t i = lines.size(); i < times.size(); ++i) {
                lines.push_back({now, times[i]});
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    runner.join();
    const std::string raw = ReadFile(capture);
    const std::string log = ReadFile(hidLog);
    std::filesystem::remove_all(scratch);

    ASSERT_EQ(session.status, 0) << session.err;
    EXPECT_EQ(session.err, "") << "nothing but the banner reaches the console";
    ASSERT_GT(lines.size(), 10u);
    ASSERT_GT(sizes.size(), 10u);

    // The log's clock on the test's: each line is seen at or after its time.
    double logOffset = 1e300;
    for (const Seen& line : lines) {
        logOffset = std::min(logOffset, line.wallMs - line.value);
    }
    // When buffer k went out: the file grows by whole blocks of its stdio
    // buffer, each one when the buffer that overfills it is written. Between
    // two such points the buffers went out at an even pace.
    std::vector<std::pair<double, double>> points;  // buffer, wall ms
    for (const Seen& s : sizes) {
        if (s.value > 0) {
            points.push_back({std::floor(s.value / (kBufferFrames * 4)), s.wallMs});
        }
    }
    points.pop_back();  // the close flushes a part block
    ASSERT_GT(points.size(), 10u);
    auto outAt = [&points](size_t buffer) {
        const double k = static_cast<double>(buffer);
        for (size_t i = 1; i < points.size(); ++i) {
            const auto [k0, t0] = points[i - 1];
            const auto [k1, t1] = points[i];
            if (k0 <= k && k <= k1) {
                return t0 + (t1 - t0) * (k - k0) / (k1 - k0);
            }
        }
        return 1e300;
    };
    const double period = (points.back().second - points.front().second) /
                          (points.back().first - points.front().first);
    EXPECT_NEAR(period, kBufferMs, 2.0) << "the disk driver does not play in real time";

    std::vector<int16_t> left(raw.size() / 4);
    for (size_t i = 0; i < left.size(); ++i) {
        std::memcpy(&left[i], raw.data() + 4 * i, 2);
    }
    const size_t buffers = left.size() / kBufferFrames;

    // The runs of tones in the order heard.
    std::vector<std::pair<int, size_t>> runs;  // tone, first buffer
    for (size_t b = 0; b < buffers; ++b) {
        const int tone = ToneOf(left, b);
        if (tone >= 0 && (runs.empty() || runs.back().first != tone)) {
            runs.push_back({tone, b});
        }
    }
    std::vector<std::string> order;
    for (const auto& [tone, first] : runs) {
        order.push_back(kNames[tone]);
    }
    ASSERT_EQ(order, (std::vector<std::string>{"on", "swing", "strike", "off"}));

    // The reports that caused them: the first read of each press.
    const std::string presses[4] = {"31 00 08 80 80 9a", "31 00 00 bc 80 80", "31 00 00 ff 80 80",
                                    "31 00 08 80 80 9a"};
    std::vector<double> causes;
    std::vector<double> readGaps;
    double lastRead = -1;
    for (const auto& [ms, bytes] : Reads(log)) {
        if (lastRead >= 0) {
            readGaps.push_back(ms - lastRead);
        }
        lastRead = ms;
        if (causes.size() < 4 && bytes == presses[causes.size()]) {
            causes.push_back(ms);
        }
    }
    ASSERT_EQ(causes.size(), 4u) << log;
    // One loop iteration: the usual time from one read to the next.
    std::sort(readGaps.begin(), readGaps.end());
    const double iterationMs = readGaps[readGaps.size() / 2];
    EXPECT_LT(iterationMs, 30.0);

    for (size_t i = 0; i < runs.size(); ++i) {
        const auto [tone, first] = runs[i];
        const double outMs = outAt(first) - logOffset;
        const double latency = outMs - causes[i];
        std::string around;  // the tones of the buffers around the start, for a failure
        for (size_t b = first - std::min<size_t>(first, 3); b < std::min(first + 4, buffers); ++b) {
            around += " " + std::to_string(ToneOf(left, b));
        }
        std::printf(
            "%-6s report read %8.1f ms, first frame out %8.1f ms: %5.1f ms later;"
            " buffers around:%s\n",
            kNames[tone], causes[i], outMs, latency, around.c_str());
        // 1 ms for the clocks' own error: a poll every 0.2 ms, and the fit.
        EXPECT_GT(latency, -1.0) << kNames[tone];
        EXPECT_LT(latency, kBufferMs + iterationMs + 1.0) << kNames[tone];

        // Cut off: the buffer before was still the old tone, and after a
        // 2.5 ms fade in the first buffer it is gone, up to the next sound.
        if (i > 0) {
            const int before = runs[i - 1].first;
            EXPECT_EQ(ToneOf(left, first - 1), before) << kNames[tone] << " came after silence";
            const size_t end = i + 1 < runs.size() ? runs[i + 1].second : first + 20;
            for (size_t b = first + 1; b < std::min(end, buffers); ++b) {
                const size_t at = b * kBufferFrames;
                EXPECT_LT(Power(left, at, kBufferFrames, kToneHz[before]),
                          Power(left, at, kBufferFrames, kToneHz[tone]) * 1e-6)
                    << kNames[before] << " plays on under " << kNames[tone] << " in buffer " << b;
            }
        }
        // Played from its first frame, which is the buffer's first: once the
        // old tone has faded the samples are the file's own, from phase 0.
        const size_t start = first * kBufferFrames;
        double worst = 0;
        for (size_t f = 120; f < kBufferFrames; ++f) {
            const double expected =
                0.5 * 32767 * std::sin(2 * std::numbers::pi * kToneHz[tone] * f / kRate);
            worst = std::max(worst, std::abs(left[start + f] - expected));
        }
        EXPECT_LT(worst, 2.0) << kNames[tone] << " did not start at its first frame";
    }
    std::printf("buffer period %.3f ms, one iteration %.1f ms\n", period, iterationMs);
}
