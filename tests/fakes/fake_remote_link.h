// The remote link in virtual time: PollRemote plays a list of reports and
// every output report is recorded with the virtual time it was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeReport {
    uint8_t buttons;
    uint8_t accelX;
    uint8_t accelY;
    uint8_t accelZ;
    double dueMs = 0;  // when it arrives: a poll before then waits for it
};

// One call the code under test made, e.g. {550.0, "rumble 0"}.
struct RemoteCall {
    double ms;
    std::string what;
};

extern std::vector<FakeReport> fakeReports;  // played by PollRemote, in order
extern size_t fakePolls;                     // PollRemote calls so far
extern bool fakeReportsRanOut;               // PollRemote was called once too often
extern std::vector<RemoteCall> remoteCalls;  // every output and poll (as it returns), in order

void ResetFakeRemoteLink();

// The calls whose text starts with prefix ("leds", "rumble", "poll", ...).
std::vector<RemoteCall> CallsStartingWith(const std::string& prefix);
