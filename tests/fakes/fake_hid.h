// tiny_hid in memory: reads play queued reports, writes are recorded whole.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "hid/tiny_hid.h"

using HidBuffer = std::array<uint8_t, TINY_HID_BUFFER_SIZE>;

extern std::deque<int32_t> fakeHidOpensFirst;  // TryOpenHidHandle's first answers, in turn
extern int32_t fakeHidOpenResult;  // what TryOpenHidHandle returns; OpenHidHandle: -1 for any < 0
extern std::map<int32_t, int32_t> fakeHidOpenResultOf;   // by product, over the two above
extern int32_t fakeHidProduct;                           // 0, or the only product that opens
extern std::vector<int32_t> fakeHidOpenedWith;           // vendor, product of each open
extern std::deque<std::vector<uint8_t>> fakeHidReports;  // delivered by ReadReport
extern int fakeHidReopens;  // reads that answer TINY_HID_REOPENED before any report
extern std::vector<HidBuffer> fakeHidWrites;      // the whole buffer of each write
extern std::vector<char> fakeHidCallOrder;        // 'r' per read, 'w' per write
extern std::vector<TinyHidDevice> fakeHidListed;  // what ListHidDevices lists, of any product
extern int fakeHidReads;
extern int fakeHidCloses;

void ResetFakeHid();
