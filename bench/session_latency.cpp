// The whole trip of a swing or a strike: from the report being due at the
// remote to the first frame of its sound coming out, over one scripted
// session of many swings and strikes at every phase of the loop. Runs the
// same session through our program and through one built with the naive
// sound service (bench/naive_sound.cpp), each through SDL's disk driver and
// through the private PulseAudio and PipeWire servers the test command's
// scripts start, where they run (tests/e2e/sound_server.h: each recorded
// from its "glowbrand" null sink), all in one run so that the ratios hold on
// a noisy machine. Through PipeWire each program picks its driver itself,
// as on a desktop.
//
//   glowbrand-session-latency <ours> <naive> [swings] [name:period:program...]
//   glowbrand-session-latency --pulse <swings> name:program...
//
// The optional others are more builds to set beside them, with the device
// period they were built with (e.g. an older build of ours). With --pulse,
// only the programs given run, only through PulseAudio, timed from the call
// (the read of the report) to the first frame out: e.g. the Windows builds
// under wine, through their build's <program>-wine.sh.
//
// Each sound is a tone of its own, so a new sound shows in what came out as
// a change of tone; the frames are timed as the capture file grows, on the
// clock of the program's HID log.
#include <SDL.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "session.h"
#include "sound/output/pulse/pulse_output.h"
#include "sound/output/sdl/sdl_output.h"
#include "sound_server.h"
#include "tones.h"

namespace {

constexpr int kBlock = kToneBlock;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// When A is pressed, lighting the blade: its sound is the session's first
// play, well after start-up: a stream opened on an idle null sink may wait
// up to 2 s before the sink reads it (docs/performance.md).
constexpr int kLightMs = 3000;
// The first swing, once the blade has extended.
constexpr int kFirstSwingMs = kLightMs + 3000;

// The session: A, then, once the blade has extended, cycles of a swing and
// a strike 150 ms later, about a second apart; then Home. The presses keep
// to the remote's 10 ms grid of reports (between two of the rest, a press
// would be read only now and then), which the loop follows: due -> read is
// the read's own waking. (A loop with a pace of its own drifted against the
// grid, and the presses fell at every phase of it.)
// A strike holds the blade for its rumble and its window, about half a second. Returns the script
// and the due times of the swing and strike presses, in script ms.
std::string Session(int cycles, std::vector<double>& swings, std::vector<double>& strikes) {
    std::ostringstream script;
    const int end = kFirstSwingMs + cycles * 1010 + 2000;
    script << "0-" << end << "/10 31 00 00 80 80 9a\n";
    script << kLightMs << "-" << kLightMs + 10 << "/10 31 00 08 80 80 9a\n";
    for (int i = 0; i < cycles; ++i) {
        const int swing = kFirstSwingMs + i * 1010;
        swings.push_back(swing);
        strikes.push_back(swing + 150);
        script << swing << "-" << swing + 40 << "/10 31 00 00 bc 80 80\n";
        script << swing + 150 << "-" << swing + 190 << "/10 31 00 00 ff 80 80\n";
    }
    script << end - 1000 << "-" << end << "/10 31 00 80 80 80 9a\n";
    return script.str();
}

struct Figures {
    std::vector<double> ms;      // due -> first frame out
    std::vector<double> callMs;  // read, where the loop plays it -> first frame out
    double firstPlayMs = -1;     // the same for the first play, the blade's lighting
    std::vector<double> readMs;  // due -> read, the loop's part of it
    int missed = 0;              // presses whose sound was not found
    int underruns = 0;           // the sound server's, over the session
};

struct Seen {
    double wallMs;
    double value;
};

// How long each tone lasts: 5 s, so that each sound plays on until the next
// cuts it off and the session never falls quiet, unless
// GLOWBRAND_BENCH_TONE_MS says otherwise (e.g. 400: the sounds end between
// presses, as real ones do, and a device that acts in quiet gets to).
int ToneMs() {
    const char* ms = std::getenv("GLOWBRAND_BENCH_TONE_MS");
    const int chosen = ms != nullptr ? std::atoi(ms) : 0;
    return chosen > 0 ? chosen : 5000;
}

// With GLOWBRAND_BENCH_HUM=silent the folder holds a hum0.wav of silence as
// long as the tones: the hum's voice does all its work under every sound (it
// loops, follows the motion, is mixed and taken back) while what comes out
// stays the tones alone, so each sound is still found sample by sample.
bool WithSilentHum() {
    const char* hum = std::getenv("GLOWBRAND_BENCH_HUM");
    return hum != nullptr && std::strcmp(hum, "silent") == 0;
}

// One run of the session through one program and one path: SDL's disk
// driver, or a sound server (none: the disk driver).
Figures Run(const std::string& program, const SoundServer* server, int bufferFrames, int cycles) {
    Figures figures;
    std::vector<double> swings;
    std::vector<double> strikes;
    const std::string script = Session(cycles, swings, strikes);
    char scratch[] = "/tmp/glowbrand-latency-XXXXXX";
    if (mkdtemp(scratch) == nullptr) {
        return figures;
    }
    const std::string capture = std::string(scratch) + "/capture.raw";
    const std::string hidLog = std::string(scratch) + "/hid.log";
    SessionOptions options;
    options.program = program;
    options.soundFiles = false;
    options.timeoutMs = 120'000;
    const char* const files[4] = {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"};
    for (int i = 0; i < 4; ++i) {
        options.files.emplace_back(files[i], ToneWav(kToneHz[i], ToneMs()));
    }
    if (WithSilentHum()) {
        options.files.emplace_back("hum0.wav", ToneWav(0.0, ToneMs()));
    }
    options.env = {{"GLOWBRAND_HIDLOG", hidLog}};
    pid_t recorder = -1;
    if (server != nullptr) {
        const auto env = SoundServerClientEnv(*server);
        options.env.insert(options.env.end(), env.begin(), env.end());
        recorder = StartRecording(*server, capture);
        if (recorder < 0) {
            std::filesystem::remove_all(scratch);
            figures.missed = cycles * 2;
            return figures;
        }
    } else {
        options.env.emplace_back("SDL_AUDIODRIVER", "disk");
        options.env.emplace_back("SDL_DISKAUDIOFILE", capture);
    }
    const int underrunsBefore = server != nullptr ? SoundServerUnderruns(*server) : 0;

    SessionResult session;
    std::atomic<bool> done{false};
    std::thread runner([&] {
        session = RunScripted(script, options);
        done = true;
    });
    std::vector<Seen> sizes;
    std::vector<double> lineSeen;  // wall ms each complete log line was first seen
    size_t logBytes = 0;
    while (!done) {
        const double now = NowMs();
        std::error_code error;
        const auto size = static_cast<double>(std::filesystem::file_size(capture, error));
        if (!error && (sizes.empty() || size != sizes.back().value)) {
            sizes.push_back({now, size});
        }
        // Only what was added is read: over a long session, reading the
        // whole log each time would slow the polls and time everything late.
        const auto logSize = std::filesystem::file_size(hidLog, error);
        if (!error && logSize > logBytes) {
            std::ifstream file(hidLog, std::ios::binary);
            file.seekg(static_cast<std::streamoff>(logBytes));
            std::string added(logSize - logBytes, '\0');
            file.read(added.data(), static_cast<std::streamsize>(added.size()));
            added.resize(static_cast<size_t>(file.gcount()));
            logBytes += added.size();
            lineSeen.resize(lineSeen.size() + std::count(added.begin(), added.end(), '\n'), now);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    runner.join();
    StopRecording(recorder);
    if (server != nullptr) {
        // Closing a PulseAudio stream is one underrun of its own.
        const int closing = *server == SoundServer::PulseAudio ? 1 : 0;
        figures.underruns = std::max(0, SoundServerUnderruns(*server) - underrunsBefore - closing);
    }
    const std::string raw = ReadFile(capture);
    const std::string log = ReadFile(hidLog);
    std::filesystem::remove_all(scratch);
    std::filesystem::remove_all(session.dir);

    // The log's clock on ours, and the script's on the log's: a report is
    // read at or after it is due.
    double logOffset = 1e300;
    double scriptOffset = 1e300;
    std::istringstream lines(log);
    std::string line;
    std::vector<std::pair<double, double>> reads;  // script ms of the report, log ms
    for (size_t i = 0; std::getline(lines, line) && i < lineSeen.size(); ++i) {
        const double ms = std::atof(line.c_str());
        logOffset = std::min(logOffset, lineSeen[i] - ms);
        const size_t script = line.find(" @");
        if (line.find(" read ") != std::string::npos && script != std::string::npos) {
            const double due = std::atof(line.c_str() + script + 2);
            scriptOffset = std::min(scriptOffset, ms - due);
            reads.push_back({due, ms});
        }
    }
    std::vector<std::pair<double, double>> points;  // frames out, wall ms
    // The disk driver writes a buffer at a time through stdio: when the file
    // grows, the buffer holding its last byte is being written, and its first
    // frame went out then. The recording's frames came at an even pace.
    const double bufferBytes = bufferFrames * 4.0;
    for (const Seen& s : sizes) {
        if (s.value > 0) {
            const double frames = server != nullptr
                                      ? s.value / 4
                                      : std::floor((s.value - 1) / bufferBytes) * bufferFrames;
            points.push_back({frames, s.wallMs});
        }
    }
    if (points.size() < 10) {
        figures.missed = cycles * 2;
        return figures;
    }
    points.pop_back();
    auto outAt = [&points](double frame) {
        for (size_t i = 1; i < points.size(); ++i) {
            const auto [f0, t0] = points[i - 1];
            const auto [f1, t1] = points[i];
            if (f0 <= frame && frame <= f1) {
                return t0 + (t1 - t0) * (frame - f0) / (f1 - f0);
            }
        }
        return 1e300;
    };

    std::vector<int16_t> left(raw.size() / 4);
    for (size_t i = 0; i < left.size(); ++i) {
        std::memcpy(&left[i], raw.data() + 4 * i, 2);
    }
    // Each change of tone, at the frame from which it is the new tone's own.
    std::vector<std::pair<int, size_t>> starts;
    int last = -1;
    for (size_t at = kBlock; at + 2 * kBlock < left.size(); at += kBlock) {
        const int tone = ToneAt(left, at);
        if (tone < 0 || tone == last) {
            continue;
        }
        last = tone;
        for (size_t f = at - kBlock; f <= at + kBlock; ++f) {
            if (ToneMisfit(left, f, tone) < 4.0) {
                starts.push_back({tone, f});
                break;
            }
        }
    }
    // Each start belongs to the last press of its kind due before it; a
    // press whose sound was not found is missed, not matched to the next.
    // PulseAudio's null sink hands frames to its monitor as it renders them,
    // up to its buffer ahead of their time (2 ms for our stream): a start
    // may so seem to come before its press, and belongs to it all the same.
    const double lead = server != nullptr && *server == SoundServer::PulseAudio ? 3.0 : 0.0;
    std::vector<bool> used(swings.size() + strikes.size(), false);
    for (const auto& [tone, frame] : starts) {
        const double out = outAt(static_cast<double>(frame)) - logOffset;
        if (tone == 0 && figures.firstPlayMs < 0) {
            const auto read = std::find_if(reads.begin(), reads.end(),
                                           [](const auto& r) { return r.first >= kLightMs; });
            if (read != reads.end()) {
                figures.firstPlayMs = out - read->second;
            }
        }
        if (tone != 2 && tone != 3) {
            continue;
        }
        const std::vector<double>& presses = tone == 2 ? swings : strikes;
        const size_t base = tone == 2 ? 0 : swings.size();
        for (size_t i = presses.size(); i-- > 0;) {
            if (presses[i] + scriptOffset <= out + lead) {
                if (!used[base + i]) {
                    used[base + i] = true;
                    figures.ms.push_back(out - (presses[i] + scriptOffset));
                    const double due = presses[i];
                    const auto read = std::find_if(reads.begin(), reads.end(),
                                                   [due](const auto& r) { return r.first >= due; });
                    if (read != reads.end()) {
                        figures.callMs.push_back(out - read->second);
                    }
                }
                break;
            }
        }
    }
    figures.missed = static_cast<int>(swings.size() + strikes.size() - figures.ms.size());
    for (const std::vector<double>* presses : {&swings, &strikes}) {
        for (const double due : *presses) {
            const auto read = std::find_if(reads.begin(), reads.end(),
                                           [due](const auto& r) { return r.first >= due; });
            if (read != reads.end()) {
                figures.readMs.push_back(read->second - (due + scriptOffset));
            }
        }
    }
    return figures;
}

double Percentile(std::vector<double> ms, double p) {
    std::sort(ms.begin(), ms.end());
    const auto at = static_cast<size_t>(std::ceil(p / 100.0 * ms.size())) - 1;
    return ms[std::min(at, ms.size() - 1)];
}

// The machine's load averages over 1, 5 and 15 minutes, with a newline.
std::string LoadAverage() {
    const std::string load = ReadFile("/proc/loadavg");
    size_t end = 0;
    for (int fields = 0; fields < 3 && end != std::string::npos; ++fields) {
        end = load.find(' ', end + (fields > 0 ? 1 : 0));
    }
    return load.substr(0, end) + "\n";
}

// Only through PulseAudio, the programs as name:program, timed from the call.
int RunThroughPulseOnly(int cycles, int count, char** others) {
    const char* server = std::getenv("PULSE_SERVER");
    if (server == nullptr || server[0] == '\0') {
        std::fprintf(stderr, "--pulse needs a PulseAudio server in PULSE_SERVER\n");
        return 2;
    }
    std::printf(
        "call (the loop reads the report) -> first frame out, ms, over %d swings and %d "
        "strikes through PulseAudio\n",
        cycles, cycles);
    std::printf("| %-20s | %6s | %6s | %6s | %6s | %6s | %12s | %10s | %9s |\n", "way", "p50",
                "p90", "p99", "max", "missed", "due->out p50", "first play", "underruns");
    std::printf(
        "|----------------------|--------|--------|--------|--------|--------|--------------|-----"
        "-------|-----------|\n");
    for (int i = 0; i < count; ++i) {
        const std::string other = others[i];
        const size_t colon = other.find(':');
        if (colon == std::string::npos) {
            std::fprintf(stderr, "not name:program: %s\n", others[i]);
            return 2;
        }
        const std::string name = other.substr(0, colon);
        const SoundServer pulse = SoundServer::PulseAudio;
        const Figures f = Run(std::filesystem::absolute(other.substr(colon + 1)), &pulse,
                              kOutputBufferFrames, cycles);
        if (f.callMs.empty()) {
            std::printf("| %-20s | no sound found |\n", name.c_str());
            continue;
        }
        std::printf("| %-20s | %6.1f | %6.1f | %6.1f | %6.1f | %6d | %12.1f | %10.1f | %9d |\n",
                    name.c_str(), Percentile(f.callMs, 50), Percentile(f.callMs, 90),
                    Percentile(f.callMs, 99), Percentile(f.callMs, 100), f.missed,
                    Percentile(f.ms, 50), f.firstPlayMs, f.underruns);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--pulse") == 0) {
        return RunThroughPulseOnly(std::atoi(argv[2]), argc - 3, argv + 3);
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <glowbrand-scripted> <glowbrand-scripted-naive> [swings] "
                     "[name:period:program...]\n"
                     "       %s --pulse <swings> name:program...\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int cycles = argc > 3 ? std::atoi(argv[3]) : 40;
    struct Way {
        std::string name;
        std::string program;
        const SoundServer* server;  // none: the disk driver
        int frames = kOutputBufferFrames;
    };
    static const SoundServer kServers[] = {SoundServer::PulseAudio, SoundServer::PipeWire};
    // Each program through each path: the disk driver, then every server running.
    std::vector<Way> ways;
    auto addWays = [&ways](const std::string& name, const std::string& program, int frames) {
        ways.push_back({name + ", disk driver", program, nullptr, frames});
        for (const SoundServer& server : kServers) {
            if (SoundServerRunning(server)) {
                ways.push_back({name + ", " + SoundServerName(server), program, &server, frames});
            }
        }
    };
    // The program runs in a folder of its own.
    const std::string ours = std::filesystem::absolute(argv[1]);
    const std::string naive = std::filesystem::absolute(argv[2]);
    addWays("ours", ours, kOutputBufferFrames);
    addWays("naive", naive, kOutputBufferFrames);
    // Other builds to compare, as name:period-frames:program.
    for (int i = 4; i < argc; ++i) {
        const std::string other = argv[i];
        const size_t a = other.find(':');
        const size_t b = other.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            continue;
        }
        addWays(other.substr(0, a), std::filesystem::absolute(other.substr(b + 1)),
                std::atoi(other.c_str() + a + 1));
    }
    // The naive service asks for SDL's default buffer: as SDL gives it here.
    SDL_LogSetOutputFunction([](void*, int, SDL_LogPriority, const char*) {}, nullptr);
    int naiveFrames = 0;
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    if (SDL_AudioInit("disk") == 0) {
        SDL_AudioSpec wanted{};
        wanted.freq = kOutputRate;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = kOutputChannels;
        wanted.callback = [](void*, Uint8* stream, int bytes) { SDL_memset(stream, 0, bytes); };
        SDL_AudioSpec obtained{};
        const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
        naiveFrames = obtained.samples;
        SDL_CloseAudioDevice(device);
        SDL_AudioQuit();
    }
    unsetenv("SDL_DISKAUDIOFILE");
    std::printf(
        "due -> first frame out, ms, over %d swings and %d strikes; device buffers: "
        "ours %d frames (%d through PipeWire; through PulseAudio its own stream, %d queued), "
        "naive %d frames (SDL's default); load average %s",
        cycles, cycles, kOutputBufferFrames, kPipeWireBufferFrames, kPulseQueueFrames, naiveFrames,
        LoadAverage().c_str());
    std::printf("| %-26s | %6s | %6s | %6s | %6s | %6s | %13s | %10s | %9s |\n", "way", "p50",
                "p90", "p99", "max", "missed", "due->read p50", "first play", "underruns");
    std::printf(
        "|----------------------------|--------|--------|--------|--------|--------|-------------"
        "--|------------|-----------|\n");
    for (const Way& way : ways) {
        const Figures f =
            Run(way.program, way.server, way.program == naive ? naiveFrames : way.frames, cycles);
        if (f.ms.empty()) {
            std::printf("| %-26s | no sound found |\n", way.name.c_str());
            continue;
        }
        std::printf("| %-26s | %6.1f | %6.1f | %6.1f | %6.1f | %6d | %13.1f | %10.1f | %9d |\n",
                    way.name.c_str(), Percentile(f.ms, 50), Percentile(f.ms, 90),
                    Percentile(f.ms, 99), Percentile(f.ms, 100), f.missed, Percentile(f.readMs, 50),
                    f.firstPlayMs, f.underruns);
        std::fflush(stdout);
    }
    return 0;
}
