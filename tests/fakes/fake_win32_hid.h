// Windows' HID stack in memory, under the real Windows HID library: HID
// interfaces that can be listed, asked, opened and lost; reports that wait in
// a queue at the interface's full input length; writes recorded with the way
// and length the library chose, and stacks that reject some lengths.
#pragma once

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
    bool openable = true;        // false: in use elsewhere
    int32_t inputLength = 22;    // what ReadFile hands over, padded with zeros
    int32_t outputLength = 22;   // OutputReportByteLength
    bool rejectsExact = false;   // WriteFile refuses a report shorter than outputLength
    bool rejectsPadded = false;  // WriteFile refuses outputLength too
    bool controlWorks = true;    // HidD_SetOutputReport goes through
};

struct FakeWrite {
    std::string way;  // "write" (WriteFile) or "set" (HidD_SetOutputReport)
    std::vector<uint8_t> bytes;
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

// Two devices of wine's own and an original remote, nothing open.
void ResetFakeWin32Hid();
