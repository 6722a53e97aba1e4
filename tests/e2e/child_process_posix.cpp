#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "child_process.h"

namespace {

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

struct ChildProcess::State {
    pid_t pid = -1;
    int terminal = -1;
};

ChildProcess::ChildProcess(const ChildStart& start) : state_(std::make_unique<State>()) {
    const std::vector<std::string> env = SessionEnvironment(start.env);
    std::vector<char*> envp;
    for (const std::string& entry : env) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    int terminalSide = -1;
    if (start.terminal &&
        openpty(&state_->terminal, &terminalSide, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    state_->pid = fork();
    if (state_->pid == 0) {
        if (state_->terminal >= 0) {
            close(state_->terminal);
        }
        const int in = terminalSide >= 0 ? terminalSide : open("/dev/null", O_RDONLY);
        const int out = open(start.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(start.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(start.dir.c_str()) != 0) {
            _exit(127);
        }
        char* argv[] = {const_cast<char*>(start.program.c_str()), nullptr};
        execve(start.program.c_str(), argv, envp.data());
        _exit(127);
    }
    if (terminalSide >= 0) {
        close(terminalSide);
    }
    if (state_->pid < 0) {
        throw std::runtime_error("fork failed");
    }
}

ChildProcess::~ChildProcess() {
    if (state_->terminal >= 0) {
        close(state_->terminal);
    }
}

bool ChildProcess::Ended() {
    int waited = 0;
    rusage usage{};
    if (wait4(state_->pid, &waited, WNOHANG, &usage) == state_->pid) {
        peakRssKb = usage.ru_maxrss;
        status = WIFEXITED(waited) ? WEXITSTATUS(waited) : 128 + WTERMSIG(waited);
        return true;
    }
    const timespec oneMs{0, 1'000'000};
    nanosleep(&oneMs, nullptr);
    return false;
}

void ChildProcess::Signal(int number) {
    kill(state_->pid, number);
}

bool ChildProcess::Type(const std::string& keys) {
    return write(state_->terminal, keys.data(), keys.size()) >= 0;
}

void ChildProcess::Kill() {
    kill(state_->pid, SIGKILL);
    int waited = 0;
    waitpid(state_->pid, &waited, 0);
    status = 128 + SIGKILL;
}

std::string ChildProcess::AsText(std::string written) {
    return written;
}

int ChildProcess::ThisProcessId() {
    return getpid();
}
