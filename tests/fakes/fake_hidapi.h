// hidapi in memory, under the real tiny_hid library: reports wait in a queue,
// writes are recorded with the length the library passed.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

extern bool fakeHidapiDevicePresent;
extern std::deque<std::vector<uint8_t>> fakeHidapiPending;   // reports not yet read
extern std::vector<std::vector<uint8_t>> fakeHidapiWritten;  // exactly the bytes sent
extern int fakeHidapiTimedWaits;                             // reads that waited for a report
extern std::function<void()> fakeHidapiOnWait;               // called on each such wait
extern int fakeHidapiOpen;                                   // devices open now
extern int fakeHidapiReadError;                 // errno of the next read's failure; 0: none
extern std::function<void()> fakeHidapiOnOpen;  // called on each open, before it looks
extern int fakeHidapiOpenError;  // errno of every open of the listed remote's node; 0: none

void ResetFakeHidapi();
