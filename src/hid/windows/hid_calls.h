// The few Win32 calls the Windows HID library makes, as functions of its own:
// hid_calls_win32.cpp makes them for real, and the library's tests link a
// fake in their place to play remotes that come, go and refuse lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hidcalls {

// An open HID interface; nullptr for none.
using Device = void*;
// An event that ends a waiting read early; nullptr for none.
using WakeSignal = void*;

struct Identity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// The paths of the HID interfaces present now (SetupDi over HidD_GetHidGuid).
std::vector<std::string> ListInterfaces();

// Reads an interface's identifiers without opening it for reading or
// writing, which Windows refuses for keyboards and mice. False when the
// interface cannot be asked.
bool Identify(const std::string& path, Identity& identity);

// Why an interface would not open.
enum class OpenFailure {
    Gone,    // not there any more
    Denied,  // not this user's to open (ERROR_ACCESS_DENIED)
    Held,    // another program holds it (ERROR_SHARING_VIOLATION)
    Other,
};

// Opens the interface for overlapped reading and writing; nullptr when it
// cannot be opened, and then, where why is given, the reason in *why.
Device Open(const std::string& path, OpenFailure* why = nullptr);

// The lengths of the interface's input and output reports, identifier
// included (HidP_GetCaps). False when unknown.
bool ReportLengths(Device device, int32_t& inputLength, int32_t& outputLength);

// Caps the reports the system keeps queued for the interface.
void SetInputBuffers(Device device, int32_t count);

// Reads one input report into dest, waiting up to timeoutMs for it (0: only
// a report already queued) or until wake is signalled. Returns its length,
// 0 when none came, -1 when the interface failed (unplugged, gone).
int32_t Read(Device device, uint8_t* dest, int32_t capacity, int32_t timeoutMs, WakeSignal wake);

enum class WriteResult {
    Sent,
    LengthRejected,  // the stack wants another length (ERROR_INVALID_USER_BUFFER, _PARAMETER)
    Failed,          // gone, or not done within the bound
};

// Writes an output report over the interrupt channel (WriteFile), waiting
// at most timeoutMs for it to go out.
WriteResult Write(Device device, const uint8_t* report, int32_t length, int32_t timeoutMs);

// Sends an output report over the control channel (HidD_SetOutputReport).
bool SetOutputReport(Device device, const uint8_t* report, int32_t length);

void Close(Device device);

// A signal that ends a waiting Read of whoever holds it; made once, never freed.
WakeSignal NewWakeSignal();
void Wake(WakeSignal wake);
void ClearWake(WakeSignal wake);

}  // namespace hidcalls
