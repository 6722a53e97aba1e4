// One session runner for every system: the child process is the only part
// that differs (child_process.h).
#include "session.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "child_process.h"

namespace {

std::string NewSessionDir() {
    static std::atomic<int> sessions{0};
    const std::string dir = std::string(GLOWBRAND_SESSIONS_DIR) + "/" +
                            std::to_string(ChildProcess::ThisProcessId()) + "-" +
                            std::to_string(sessions++);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

SessionResult RunScripted(const std::string& script, const SessionOptions& options) {
    return RunScriptedWithSignal(script, SessionSignal{}, options);
}

SessionResult RunScriptedWithSignal(const std::string& script, const SessionSignal& signal,
                                    const SessionOptions& options) {
    SessionResult result;
    result.dir = NewSessionDir();
    WriteFile(result.dir + "/session.script", script);
    if (options.soundFiles) {
        for (const char* name : {"on0.wav", "off0.wav", "swing2.wav", "strike2.wav"}) {
            std::filesystem::copy_file(std::string(GLOWBRAND_SOUNDS_DIR) + "/" + name,
                                       result.dir + "/" + name);
        }
    }
    for (const auto& [name, content] : options.files) {
        WriteFile(result.dir + "/" + name, content);
    }
    ChildStart start{.program = options.program.empty() ? GLOWBRAND_SCRIPTED : options.program,
                     .dir = result.dir,
                     .outPath = result.dir + "/stdout",
                     .errPath = result.dir + "/stderr",
                     .env = {{"GLOWBRAND_SCRIPT", result.dir + "/session.script"},
                             {"GLOWBRAND_HIDLOG", result.dir + "/hid.log"}},
                     .terminal = !signal.keys.empty()};
    // The time to the end is the program's: under AddressSanitizer the leak
    // scan at exit took 0.4 to 1 s of it on some machines. Whole sessions
    // elsewhere keep that check.
    start.env.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
    start.env.insert(start.env.end(), options.env.begin(), options.env.end());
    ChildProcess child(start);
    const bool acts = signal.number != 0 || !signal.keys.empty();

    // Watched a millisecond at a time, for the log as it stood when the
    // first output appeared.
    using Clock = std::chrono::steady_clock;
    Clock::time_point signalDue = Clock::time_point::max();
    Clock::time_point signalSent = Clock::time_point::max();
    if (acts && signal.whenLogged.empty()) {
        signalDue = Clock::now() + std::chrono::milliseconds(signal.delayMs);
    }
    for (int waitedMs = 0;; ++waitedMs) {
        if (child.Ended()) {
            if (signalSent != Clock::time_point::max()) {
                result.signalToEndMs =
                    std::chrono::duration<double, std::milli>(Clock::now() - signalSent).count();
            }
            break;
        }
        std::error_code noOutputYet;
        if (result.logAtFirstOutput.empty() &&
            std::filesystem::file_size(start.outPath, noOutputYet) > 0 && !noOutputYet) {
            result.logAtFirstOutput = ParseHidLog(ReadFile(result.dir + "/hid.log"));
        }
        if (acts && signalDue == Clock::time_point::max() &&
            ReadFile(result.dir + "/hid.log").find(signal.whenLogged) != std::string::npos) {
            signalDue = Clock::now() + std::chrono::milliseconds(signal.delayMs);
        }
        if (signalSent == Clock::time_point::max() && Clock::now() >= signalDue) {
            if (signal.keys.empty()) {
                child.Signal(signal.number);
            } else if (!child.Type(signal.keys)) {
                child.Kill();  // shows as a status no test expects
                break;
            }
            signalSent = Clock::now();
        }
        if (waitedMs >= options.timeoutMs) {
            child.Kill();
            result.timedOut = true;
            break;
        }
    }
    result.status = child.status;
    result.peakRssKb = child.peakRssKb;
    result.out = ChildProcess::AsText(ReadFile(start.outPath));
    result.err = ChildProcess::AsText(ReadFile(start.errPath));
    result.log = ParseHidLog(ReadFile(result.dir + "/hid.log"));
    return result;
}
