#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>

namespace {

int ttyFd = -1;
termios found{};
std::atomic<bool> raw{false};
std::atomic<bool> statusShown{false};  // the cursor sits at the end of a status line

// Signals that end the process: restore, then die of the signal as before,
// so the shell sees the usual status.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Faults: restore, then let whoever handled them before (a sanitizer, or the
// default core dump) see the very same fault.
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxSignal = 65;
struct sigaction before[kMaxSignal];

static_assert(std::atomic<bool>::is_always_lock_free, "flags are used in signal handlers");

void WriteAll(const char* text, size_t length) {
    while (length > 0 && ttyFd >= 0) {
        const ssize_t written = write(ttyFd, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void EndOnSignal(int signal) {
    const int savedErrno = errno;
    RestoreTerminal();
    errno = savedErrno;
    // The program may have its own way out for this signal (a quiet remote,
    // its own exit status): hand the signal on to it.
    const struct sigaction& previous = before[signal];
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
        previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // SA_RESETHAND has made the default action current again: the signal
    // raised here ends the process as soon as the handler returns.
    raise(signal);
}

void RestoreOnFault(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    RestoreTerminal();
    sigaction(signal, &before[signal], nullptr);
    errno = savedErrno;
    // A real fault happens again when the faulting instruction re-runs on
    // return; a signal sent by someone (abort, kill) has to be sent anew.
    if (info == nullptr || info->si_code <= 0) {
        raise(signal);
    }
}

void InstallHandlers() {
    struct sigaction ending {};
    ending.sa_handler = EndOnSignal;
    sigemptyset(&ending.sa_mask);
    ending.sa_flags = SA_RESETHAND;
    for (int signal : kEndingSignals) {
        sigaction(signal, &ending, &before[signal]);
    }
    struct sigaction fault {};
    fault.sa_sigaction = RestoreOnFault;
    sigemptyset(&fault.sa_mask);
    fault.sa_flags = SA_SIGINFO;
    for (int signal : kFaultSignals) {
        sigaction(signal, &fault, &before[signal]);
    }
}

}  // namespace

bool OpenTerminal() {
    ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ttyFd < 0) {
        return false;
    }
    if (tcgetattr(ttyFd, &found) != 0) {
        close(ttyFd);
        ttyFd = -1;
        return false;
    }
    termios keys = found;
    // Ctrl+C arrives as a byte too: the reader turns it into SIGINT itself,
    // after the terminal is restored.
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    keys.c_iflag &= ~static_cast<tcflag_t>(IXON);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    InstallHandlers();
    raw.store(true);
    if (tcsetattr(ttyFd, TCSANOW, &keys) != 0) {
        raw.store(false);
        return false;
    }
    return true;
}

void WriteTerminal(std::string_view text) {
    WriteAll(text.data(), text.size());
}

void DrawStatus(std::string_view line) {
    if (!raw.load()) {
        return;
    }
    // Back to the line's start, the new text, then erase whatever a longer
    // earlier line left to its right.
    std::string text = "\r";
    text += line;
    text += "\033[K";
    WriteAll(text.data(), text.size());
    statusShown.store(true);
}

void RestoreTerminal() {
    if (!raw.exchange(false)) {
        return;
    }
    if (statusShown.exchange(false)) {
        WriteAll("\n", 1);
    }
    tcflush(ttyFd, TCIFLUSH);
    tcsetattr(ttyFd, TCSANOW, &found);
}

int32_t ReadKeys(char* keys, int32_t capacity, int32_t timeoutMs) {
    if (ttyFd < 0) {
        return -1;
    }
    pollfd tty{ttyFd, POLLIN, 0};
    if (poll(&tty, 1, timeoutMs) <= 0) {
        return 0;
    }
    // A terminal that hung up keeps polling readable, with nothing to read.
    if ((tty.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return -1;
    }
    if ((tty.revents & POLLIN) == 0 || capacity <= 0) {
        return 0;
    }
    const ssize_t got = read(ttyFd, keys, static_cast<size_t>(capacity));
    return got > 0 ? static_cast<int32_t>(got) : 0;
}
