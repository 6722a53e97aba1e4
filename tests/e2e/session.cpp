#include "session.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string NewSessionDir() {
    static std::atomic<int> sessions{0};
    const std::string dir = std::string(GLOWBRAND_SESSIONS_DIR) + "/" + std::to_string(getpid()) +
                            "-" + std::to_string(sessions++);
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

// The parent's environment without a display, so that messages go to stderr,
// plus the session's own variables.
std::vector<std::string> SessionEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
            entry.rfind("GLOWBRAND_", 0) == 0 || entry.rfind("SDL_AUDIODRIVER=", 0) == 0) {
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("SDL_AUDIODRIVER=dummy");
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's exit sleeps a second while any other thread lives, to
    // catch races at exit; the sound worker decoding at an end is one, and the
    // end is timed.
    const char* tsan = std::getenv("TSAN_OPTIONS");
    std::erase_if(env,
                  [](const std::string& entry) { return entry.rfind("TSAN_OPTIONS=", 0) == 0; });
    env.push_back(std::string("TSAN_OPTIONS=") + (tsan != nullptr ? std::string(tsan) + ":" : "") +
                  "atexit_sleep_ms=0");
#endif
    for (const auto& [name, value] : extra) {
        // A later setting of a name replaces the earlier one.
        std::erase_if(env,
                      [&](const std::string& entry) { return entry.rfind(name + "=", 0) == 0; });
        env.push_back(name + "=" + value);
    }
    return env;
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
    std::vector<std::pair<std::string, std::string>> extra = {
        {"GLOWBRAND_SCRIPT", result.dir + "/session.script"},
        {"GLOWBRAND_HIDLOG", result.dir + "/hid.log"}};
    extra.insert(extra.end(), options.env.begin(), options.env.end());
    const std::vector<std::string> env = SessionEnvironment(extra);
    std::vector<char*> envp;
    for (const std::string& entry : env) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const std::string outPath = result.dir + "/stdout";
    const std::string errPath = result.dir + "/stderr";

    // Keys to type need a terminal on the program's standard input.
    int terminal = -1;
    int terminalSide = -1;
    if (!signal.keys.empty() && openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (terminal >= 0) {
            close(terminal);
        }
        const int in = terminalSide >= 0 ? terminalSide : open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(result.dir.c_str()) != 0) {
            _exit(127);
        }
        const char* program =
            options.program.empty() ? GLOWBRAND_SCRIPTED : options.program.c_str();
        char* argv[] = {const_cast<char*>(program), nullptr};
        execve(program, argv, envp.data());
        _exit(127);
    }
    if (terminalSide >= 0) {
        close(terminalSide);
    }
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    const bool acts = signal.number != 0 || !signal.keys.empty();

    int status = 0;
    using Clock = std::chrono::steady_clock;
    Clock::time_point signalDue = Clock::time_point::max();
    Clock::time_point signalSent = Clock::time_point::max();
    if (acts && signal.whenLogged.empty()) {
        signalDue = Clock::now() + std::chrono::milliseconds(signal.delayMs);
    }
    for (int waitedMs = 0;; ++waitedMs) {
        rusage usage{};
        if (wait4(pid, &status, WNOHANG, &usage) == pid) {
            result.peakRssKb = usage.ru_maxrss;
            if (signalSent != Clock::time_point::max()) {
                result.signalToEndMs =
                    std::chrono::duration<double, std::milli>(Clock::now() - signalSent).count();
            }
            break;
        }
        std::error_code noOutputYet;
        if (result.logAtFirstOutput.empty() &&
            std::filesystem::file_size(outPath, noOutputYet) > 0 && !noOutputYet) {
            result.logAtFirstOutput = ParseHidLog(ReadFile(result.dir + "/hid.log"));
        }
        if (acts && signalDue == Clock::time_point::max() &&
            ReadFile(result.dir + "/hid.log").find(signal.whenLogged) != std::string::npos) {
            signalDue = Clock::now() + std::chrono::milliseconds(signal.delayMs);
        }
        if (signalSent == Clock::time_point::max() && Clock::now() >= signalDue) {
            if (signal.keys.empty()) {
                kill(pid, signal.number);
            } else if (write(terminal, signal.keys.data(), signal.keys.size()) < 0) {
                kill(pid, SIGKILL);  // shows as a status no test expects
            }
            signalSent = Clock::now();
        }
        if (waitedMs >= options.timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        const timespec oneMs{0, 1'000'000};
        nanosleep(&oneMs, nullptr);
    }
    if (terminal >= 0) {
        close(terminal);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    result.log = ParseHidLog(ReadFile(result.dir + "/hid.log"));
    return result;
}
