// Windows' HID stack in memory, under the real Windows HID library: HID
// interfaces that can be listed, asked, opened and lost; reports that wait in
// a queue at the interface's full input length; writes recorded with the way
// and length the library chose, and stacks that reject some lengths.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct FakeInterface {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool present = true;
    bool openable = true;        // false: another program holds it
    int32_t inputLength = 22;    // what ReadFile hands over, padded with zeros
    int32_t outputLength = 22;   // OutputReportByteLength
    bool rejectsExact = false;   // WriteFile refuses a report shorter than outputLength
    bool rejectsPadded = false;  // WriteFile refuses outputLength too
    bool controlWorks = true;    // HidD_SetOutputReport goes through
};

struct FakeWrite {
    std::string way;  // "write" (WriteFile) or "set" (HidD_SetOutputReport)
    std::vector<uint8_t> bytes;
    std::chrono::steady_clock::time_point at{};
};

extern std::vector<FakeInterface> fakeInterfaces;
extern std::deque<std::vector<uint8_t>> fakeHidPending;  // reports of the open remote
extern std::vector<FakeWrite> fakeHidWrites;             // every write tried, sent or not
extern int fakeHidTimedWaits;                            // reads that waited for a report
extern std::function<void()> fakeHidOnWait;              // called on each such wait
extern std::function<void()> fakeHidOnList;              // called on each enumeration
extern int fakeHidOpen;                                  // interfaces open now
extern int fakeHidInputBuffers;                          // the last queue cap asked for
extern bool fakeHidReadFails;                            // the open remote's reads fail
// Called on each write tried, before the stack answers it: a remote's answer
// (a status report) goes into fakeHidPending from here.
extern std::function<void(const FakeWrite&)> fakeHidOnWrite;
// When non-zero the open remote reports 0x31 every this many ms of real time,
// as a remote read back to back by another thread does; what the queue
// holds (answers) goes first.
extern int fakeHidReportEveryMs;
// How long the stack takes over each read of the clocked remote: longer than
// its period (wine's HID stack under emulation), a report is always waiting.
extern int fakeHidReadMs;

// Two devices of wine's own and an original remote, nothing open.
void ResetFakeWin32Hid();
