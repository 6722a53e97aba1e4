#include "remote/remote_link.h"

#include <thread>

#include "hid/tiny_hid.h"

static_assert(kReportBufferSize == TINY_HID_BUFFER_SIZE);

RemoteState remoteState;
int32_t hidHandle = -1;
uint8_t InputBuffer[kReportBufferSize];
uint8_t OutputBuffer[kReportBufferSize];

// Filled by the library; nothing reads them.
static uint32_t readCount;
static uint32_t writeCount;

namespace {

// Writes belong to the thread that opened the link; the probe's reader thread
// also polls and must not send behind its back.
std::thread::id linkThread;

// What the link last set, sent or not, to set again after a status report
// or on a remote's return; nothing is set again that was never set.
bool modeSet = false;
uint8_t modeFlags = kReportModeFlags;
uint8_t modeValue = kReportModeCoreAccel;
bool ledsSet = false;
uint8_t ledsValue = kLedsNone;

// The open handle for a signal handler, which may run on any thread; -1 when
// the link is not open.
std::atomic<int32_t> openHandle{-1};
static_assert(std::atomic<int32_t>::is_always_lock_free);

// Set by a status report (possibly on the reader thread), cleared when the
// mode has been sent again on the link's thread.
std::atomic<bool> modeLost{false};

// Set when the library has opened a vanished remote again (possibly on the
// reader thread), cleared when the link's thread has put it back.
std::atomic<bool> remoteReturned{false};

// A remote that comes back has forgotten its mode and LEDs, and its motor may
// have been left running when it vanished mid-pulse.
void RestoreReturnedRemote() {
    remoteReturned = false;
    if (modeSet) {
        SetReportMode(modeFlags, modeValue);
    }
    if (ledsSet) {
        SetLeds(ledsValue);
    }
    SetRumble(0);
}

// On the link's thread, before a read: sends what the remote needs to go on
// reporting as the program expects.
void AnswerRemote() {
    if (remoteReturned) {
        RestoreReturnedRemote();
    } else if (modeLost) {
        SetReportMode(modeFlags, modeValue);
    }
}

}  // namespace

bool OpenRemote() {
    linkThread = std::this_thread::get_id();
    modeLost = false;
    remoteReturned = false;
    modeSet = false;
    ledsSet = false;
    hidHandle = OpenHidHandle(kRemoteVendorId, kRemoteProductId);
    openHandle = hidHandle;
    return hidHandle != -1;
}

void CloseRemote() {
    openHandle = -1;
    CloseHidHandle(hidHandle);
}

bool RemoteIsOpen() {
    return openHandle != -1;
}

void InterruptPolls() {
    CancelReadReport(openHandle.load(), 1);
}

// Only the bytes a report names are written: the rest of OutputBuffer keeps
// what earlier reports left, and the library sends no more than each report's
// own length anyway.
int32_t SetLeds(uint8_t value) {
    ledsSet = true;
    ledsValue = value;
    OutputBuffer[0] = kReportLeds;
    OutputBuffer[1] = value;
    return WriteReport(hidHandle, OutputBuffer, &writeCount);
}

int32_t SetReportMode(uint8_t flags, uint8_t mode) {
    modeSet = true;
    modeFlags = flags;
    modeValue = mode;
    modeLost = false;
    OutputBuffer[0] = kReportMode;
    OutputBuffer[1] = flags;
    OutputBuffer[2] = mode;
    return WriteReport(hidHandle, OutputBuffer, &writeCount);
}

int32_t SetRumble(uint8_t on) {
    OutputBuffer[0] = kReportRumble;
    OutputBuffer[1] = on;
    return WriteReport(hidHandle, OutputBuffer, &writeCount);
}

void DecodeReport(const uint8_t* report, int32_t length) {
    if (length < 1) {
        return;
    }
    switch (report[0]) {
        case kReportButtons:
            if (length >= kButtonsLength) {
                remoteState.buttons = report[kButtonsByte];
            }
            break;
        case kReportButtonsAccel:
            // All or nothing: half a report must not pair fresh buttons with
            // an accelerometer reading from long ago.
            if (length < kButtonsAccelLength) {
                break;
            }
            remoteState.buttons = report[kButtonsByte];
            remoteState.accelX = report[kAccelByte];
            remoteState.accelY = report[kAccelByte + 1];
            remoteState.accelZ = report[kAccelByte + 2];
            break;
        case kReportStatus:
            modeLost = true;
            break;
        default:
            break;
    }
}

void CancelPolls(bool cancel) {
    CancelReadReport(hidHandle, cancel ? 1 : 0);
}

bool ReportModeLost() {
    return modeLost;
}

// Without the mode sent again, the remote would stay silent after a status
// report or its return, and the read would never end, not even for Home.
void PollRemote() {
    const bool onLinkThread = std::this_thread::get_id() == linkThread;
    for (;;) {
        if (onLinkThread) {
            AnswerRemote();
        }
        // Only what this read delivered is decoded: the buffer may still hold
        // an older, longer report (or a status report already answered).
        const int32_t length = ReadReport(hidHandle, InputBuffer, &readCount);
        if (length == TINY_HID_REOPENED) {
            remoteReturned = true;
            // The link's thread puts the remote back and reads on, so that the
            // return costs its caller no report; the reader leaves it to that
            // thread's next poll.
            if (onLinkThread) {
                continue;
            }
            return;
        }
        if (length > 0) {
            DecodeReport(InputBuffer, length);
        }
        return;
    }
}
