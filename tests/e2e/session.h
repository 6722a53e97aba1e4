// Runs the real glowbrand-scripted as a process in a working directory of its
// own, and reads back what it printed and its HID log.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "read_file.h"

struct SessionOptions {
    std::vector<std::pair<std::string, std::string>> files;  // name, content: put in the cwd
    std::vector<std::pair<std::string, std::string>> env;    // added to the environment
    int timeoutMs = 30'000;                                  // then the process is killed
    bool soundFiles = true;    // the built sound set in the cwd, before `files`
    std::string program = "";  // another build of the program; "": glowbrand-scripted
};

// A signal for the program, sent once its HID log holds a line containing
// whenLogged ("": once it has started), delayMs later. With keys instead, the
// program's standard input is a terminal, and the keys are typed at it then.
struct SessionSignal {
    int number = 0;
    std::string whenLogged;
    int delayMs = 0;
    std::string keys{};
};

// One line of the HID log: "<ms> <kind> <rest>", with the script time of a
// read ("@<ms>") split off into scriptMs (-1 for other lines).
struct HidLogLine {
    double ms = 0;
    std::string kind;  // open, write, read, close
    std::string rest;  // the bytes, or the handle
    int64_t scriptMs = -1;
};

struct SessionResult {
    int status = -1;  // exit status, 128 + signal when killed by one
    bool timedOut = false;
    std::string out;
    std::string err;
    std::vector<HidLogLine> log;
    std::string dir;            // the session's working directory, kept for a look
    double signalToEndMs = -1;  // from sending the signal (or keys) to the process's end
    // The log as it stood when the first byte of standard output could be read.
    std::vector<HidLogLine> logAtFirstOutput;
    long peakRssKb = -1;  // the process's peak resident memory, when it ended by itself
};

// Plays `script` through glowbrand-scripted and waits for it to end.
SessionResult RunScripted(const std::string& script, const SessionOptions& options = {});

// The same, sending the program a signal on the way.
SessionResult RunScriptedWithSignal(const std::string& script, const SessionSignal& signal,
                                    const SessionOptions& options = {});

// The log lines of one kind, optionally only those whose rest equals `rest`.
std::vector<HidLogLine> LinesOf(const SessionResult& session, const std::string& kind,
                                const std::string& rest = "");

// The rest of every write, in order ("12 00 31", "11 f0", ...).
std::vector<std::string> Writes(const SessionResult& session);

// The writes of the program's effects, as Writes() gives them: the start-up
// (report mode, then the flash), and the ignition and retraction sweeps with
// their rumble pulse.
extern const std::vector<std::string> kStart;
extern const std::vector<std::string> kIgnite;
extern const std::vector<std::string> kRetract;

// The parts one after the other.
std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts);

// The lines of a HID log in the scripted remote's format.
std::vector<HidLogLine> ParseHidLog(const std::string& text);
