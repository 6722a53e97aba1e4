// The program under test as a child process, the one part of a session that
// differs between systems: child_process_posix.cpp, child_process_windows.cpp.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ChildStart {
    std::string program;
    std::string dir;  // its working directory
    std::string outPath;
    std::string errPath;
    std::vector<std::pair<std::string, std::string>> env;  // added to the parent's
    bool terminal = false;  // standard input a terminal, to type keys at
};

class ChildProcess {
public:
    explicit ChildProcess(const ChildStart& start);  // throws when it cannot start
    ~ChildProcess();

    // Waits up to a millisecond for the end; true once ended.
    bool Ended();
    // Sends a signal (Linux only: Windows has none to send).
    void Signal(int number);
    // Types at its terminal; false when that failed.
    bool Type(const std::string& keys);
    // Ends it at once and reaps it.
    void Kill();

    int status = -1;                                 // exit status, 128 + signal when killed by one
    long peakRssKb = -1;                             // where the system tells it
    static std::string AsText(std::string written);  // its output as the tests compare it
    static int ThisProcessId();

private:
    struct State;
    std::unique_ptr<State> state_;
};
