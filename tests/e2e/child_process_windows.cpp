// The child process on Windows: its own working directory, standard streams
// to files and environment block. No signals: Windows has none to send, and
// its console control events are tested on their own.
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "child_process.h"

namespace {

// The parent's environment without the program's own variables, plus the
// session's: NAME=value entries, each ended by a NUL, the block by another.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> env;
    char* strings = GetEnvironmentStringsA();
    for (const char* e = strings; *e != '\0'; e += std::strlen(e) + 1) {
        const std::string entry = e;
        if (entry.rfind("GLOWBRAND_", 0) != 0) {
            env.push_back(entry);
        }
    }
    FreeEnvironmentStringsA(strings);
    for (const auto& [name, value] : extra) {
        std::erase_if(env,
                      [&](const std::string& entry) { return entry.rfind(name + "=", 0) == 0; });
        env.push_back(name + "=" + value);
    }
    std::string block;
    for (const std::string& entry : env) {
        block += entry;
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
};

ChildProcess::ChildProcess(const ChildStart& start) : state_(std::make_unique<State>()) {
    if (start.terminal) {
        throw std::logic_error("no terminal to type at under wine");
    }
    std::string env = EnvironmentBlock(start.env);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = Inheritable(start.outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = Inheritable(start.errPath, GENERIC_WRITE, CREATE_ALWAYS);
    std::string command = "\"" + start.program + "\"";
    const BOOL started =
        CreateProcessA(start.program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, env.data(),
                       start.dir.c_str(), &startup, &state_->process);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        CloseHandle(h);
    }
    if (!started) {
        throw std::runtime_error("cannot start " + start.program);
    }
}

ChildProcess::~ChildProcess() {
    CloseHandle(state_->process.hThread);
    CloseHandle(state_->process.hProcess);
}

bool ChildProcess::Ended() {
    if (WaitForSingleObject(state_->process.hProcess, 1) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(state_->process.hProcess, &code);
    status = static_cast<int>(code);
    return true;
}

void ChildProcess::Signal(int) {
    Kill();
    throw std::logic_error("no signals on Windows");
}

bool ChildProcess::Type(const std::string&) {
    return false;
}

void ChildProcess::Kill() {
    TerminateProcess(state_->process.hProcess, 137);
    WaitForSingleObject(state_->process.hProcess, INFINITE);
    status = 137;
}

// The C runtime writes "\r\n" to a file in text mode; the program's lines
// are compared as they are on Linux.
std::string ChildProcess::AsText(std::string written) {
    std::erase(written, '\r');
    return written;
}

int ChildProcess::ThisProcessId() {
    return static_cast<int>(GetCurrentProcessId());
}
