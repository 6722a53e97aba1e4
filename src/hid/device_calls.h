// The few calls the read core (device_core.cpp) makes on a real remote: one
// thin layer per system implements them, over hidapi (hidapi/) or over
// Windows' own HID stack (windows/). The core keeps the rules: the newest
// data and every answer, a vanished remote looked for again, writers first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devicecalls {

// An open device; nullptr for none.
using Device = void*;

// Read's return when the device failed (switched off, out of range).
constexpr int32_t kGone = -1;

// Why Open gave nothing: the TINY_HID_* codes of tiny_hid.h.
enum class Refusal : int32_t { Absent = -1, Denied = -3, Held = -4, Other = -5 };

// Opens the first present device with exactly these identifiers for handle
// slot `slot`; nullptr when there is none or it cannot be had, and then,
// where why is given, the reason in *why.
Device Open(int32_t vendorId, int32_t productId, int32_t slot, Refusal* why = nullptr);

struct Listed {
    std::string path;
    int32_t productId = 0;
    bool bluetooth = false;
};

// The devices present with exactly these identifiers, in the order Open
// tries them; false when the system cannot be asked.
bool List(int32_t vendorId, int32_t productId, std::vector<Listed>& found);

void Close(Device device);

// Reads one input report into dest (TINY_HID_BUFFER_SIZE bytes), waiting up
// to timeoutMs for it (0: only one already queued), or less once Wake(slot,
// true) was called. Returns the length of the remote's report, 0 when none
// came, kGone when the device failed.
int32_t Read(Device device, int32_t slot, uint8_t* dest, int32_t timeoutMs);

// Sends an output report of `length` bytes, the remote's own length for its
// identifier. True when it went out.
bool Write(Device device, const uint8_t* report, int32_t length);

// While on, ends a Read waiting on slot early, where the system's wait can be
// woken (Windows); reads wait only short slices anyway. Async-signal-safe.
void Wake(int32_t slot, bool on);

}  // namespace devicecalls
