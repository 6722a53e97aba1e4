// The remote link: the program's only path to the Wii Remote. Opens and
// closes it, sends the three output reports the program uses and decodes input
// reports into RemoteState.
#pragma once

#include <atomic>
#include <cstdint>

#include "config.h"
#include "hid/remote_protocol.h"

// The decoded input of the remote, all 0 until the first report. Each byte is
// atomic because the start-up probe's reader thread writes it while the main
// thread may read it; a torn report is harmless, a data race is not.
struct RemoteState {
    std::atomic<uint8_t> buttons;  // second button byte of the last report 0x30 or 0x31
    std::atomic<uint8_t> accelX;   // accelerometer bytes of the last report 0x31
    std::atomic<uint8_t> accelY;
    std::atomic<uint8_t> accelZ;
};

extern RemoteState remoteState;
extern int32_t hidHandle;  // -1 when no device is open
extern uint8_t InputBuffer[kReportBufferSize];
extern uint8_t OutputBuffer[kReportBufferSize];

// Opens the remote by its identifiers: the original Wii Remote, else the Wii
// Remote Plus. Returns false when neither is present.
bool OpenRemote();

// Why the last OpenRemote opened nothing: TINY_HID_ABSENT, _DENIED, _HELD or
// _REFUSED (tiny_hid.h); a refusal of either remote wins over an absence.
// 0 after a successful open.
int32_t RemoteOpenRefusal();

// Releases the remote.
void CloseRemote();

// Every report below carries the rumble bit as SetRumble last set it: the
// remote stops its motor on any output report whose bit is clear.

// Sends report 0x11: the player LEDs, bit 4 LED 1 ... bit 7 LED 4.
// Returns the library's write result.
int32_t SetLeds(uint8_t value);

// Sends report 0x12: the data reporting mode. Set it before a reader
// starts: readers decode against it.
// Returns the library's write result.
int32_t SetReportMode(uint8_t flags, uint8_t mode);

// Sends report 0x13 with bit 0 set (on = 1) or clear (on = 0): the rumble.
// Returns the library's write result.
int32_t SetRumble(uint8_t on);

// Asks the remote for a status report, with the rumble as last set. The
// status report that answers has the mode sent again, as any does.
int32_t RequestStatus();

// Waits for one input report and decodes it into remoteState, reading on
// past status reports and answers to the data behind them; a read that
// delivers nothing changes nothing. On the thread that opened the link it
// first sends the report mode again if a status report asked for it (see
// DecodeReport), and when the library reports the remote back after it
// vanished (TINY_HID_REOPENED) it sends the last mode and LEDs set and rumble
// off, then reads on. On any other thread (the start-up probe's reader) it
// only reads and notes what is owed, so that all writes stay on one thread.
void PollRemote();

// PollRemote's read without its answers, for a reader that keeps every
// report: reads one into buffer (kReportBufferSize bytes), decodes it and
// notes what the remote is owed, a return included. Returns the library's
// read result.
int32_t ReadRemote(uint8_t* buffer);

// On the link's thread: sends what the remote is owed for what the readers
// saw (a mode after a status report, another mode or a return), as
// PollRemote does before it reads. Sends nothing otherwise.
void AnswerRemote();

// On the link's thread, while the rumble is on: sets it again if a reader
// has seen that another writer (the kernel's driver) just stopped the motor
// (see DecodeReport). Sends nothing otherwise.
void KeepRumble();

// True from a successful OpenRemote until CloseRemote.
bool RemoteIsOpen();

// Frees a PollRemote waiting for a report, on any thread, and makes later
// ones return at once, until CancelPolls(false). Async-signal-safe: for a
// request to end the program.
void InterruptPolls();

// While cancel is true, a PollRemote waiting for a report returns within a
// few ms without one, and later ones return at once: lets another thread free
// the reader from a remote that has gone quiet.
void CancelPolls(bool cancel);

// Decodes a report of `length` delivered bytes into remoteState: 0x30 sets
// buttons, 0x31 sets buttons and the accelerometer. A report too short to
// carry those fields changes nothing: the bytes after its end are left over
// from an older report and are not fresh input. A status report 0x20 changes
// nothing in remoteState but marks the report mode for sending again: the
// remote sends it when an accessory comes or goes and then stays silent until
// the mode is set anew. A whole data report of another mode than the one
// set marks the mode for sending again too, at most once per
// kModeResendMinMs: the kernel's own driver sets its mode now and then. While
// the rumble is on, memory data (0x21) or an acknowledgement (0x22) of a
// report the link never sends marks the rumble for KeepRumble: another
// writer has stopped the motor. Anything else changes nothing.
void DecodeReport(const uint8_t* report, int32_t length = kReportBufferSize);

// True while a status report has asked for the report mode to be sent again.
bool ReportModeLost();
