// session.h on Windows: glowbrand-scripted.exe as a child process with its
// own working directory, standard streams to files and environment block.
// No signals: Windows has none to send, and its console control events are
// tested on their own.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "session.h"

namespace {

std::string NewSessionDir() {
    static std::atomic<int> sessions{0};
    const std::string dir = std::string(GLOWBRAND_SESSIONS_DIR) + "/" +
                            std::to_string(GetCurrentProcessId()) + "-" +
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

// The C runtime writes "\r\n" to a file in text mode; the program's lines
// are compared as they are on Linux.
std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

SessionResult RunScripted(const std::string& script, const SessionOptions& options) {
    return RunScriptedWithSignal(script, SessionSignal{}, options);
}

SessionResult RunScriptedWithSignal(const std::string& script, const SessionSignal& signal,
                                    const SessionOptions& options) {
    if (signal.number != 0) {
        throw std::logic_error("no signals on Windows");
    }
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
    std::string env = EnvironmentBlock(extra);
    const std::string outPath = result.dir + "/stdout";
    const std::string errPath = result.dir + "/stderr";

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = Inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = Inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    const std::string program = options.program.empty() ? GLOWBRAND_SCRIPTED : options.program;
    std::string command = "\"" + program + "\"";
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                        env.data(), result.dir.c_str(), &startup, &process);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        CloseHandle(h);
    }
    if (!started) {
        throw std::runtime_error("cannot start " + program);
    }
    // Watched a millisecond at a time, for the log as it stood when the
    // first output appeared.
    for (int waitedMs = 0;; ++waitedMs) {
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            break;
        }
        std::error_code noOutputYet;
        if (result.logAtFirstOutput.empty() &&
            std::filesystem::file_size(outPath, noOutputYet) > 0 && !noOutputYet) {
            result.logAtFirstOutput = ParseHidLog(ReadFile(result.dir + "/hid.log"));
        }
        if (waitedMs >= options.timeoutMs) {
            TerminateProcess(process.hProcess, 137);
            WaitForSingleObject(process.hProcess, INFINITE);
            result.timedOut = true;
            break;
        }
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.status = static_cast<int>(status);
    result.out = WithoutCarriageReturns(ReadFile(outPath));
    result.err = WithoutCarriageReturns(ReadFile(errPath));
    result.log = ParseHidLog(ReadFile(result.dir + "/hid.log"));
    return result;
}
