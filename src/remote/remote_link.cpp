#include "remote/remote_link.h"

#include <algorithm>
#include <thread>

#include "hid/tiny_hid.h"
#include "platform/counter.h"
#include "remote/link_rules.h"

static_assert(kReportBufferSize == TINY_HID_BUFFER_SIZE);

RemoteState remoteState;
int32_t hidHandle = -1;
uint8_t InputBuffer[kReportBufferSize];
uint8_t OutputBuffer[kReportBufferSize];

// Filled by the library; nothing reads it.
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

// The rumble as the program last set it. The remote stops its motor on any
// output report whose rumble bit is clear, so every report carries it.
std::atomic<bool> rumbleOn{false};

// Set when a data report of another mode than the one set arrives (possibly
// on the reader thread): on a desktop the kernel's own driver sets its mode
// whenever its input devices are opened or closed. Cleared by a report in
// the right mode or by sending the mode.
std::atomic<bool> modeWrong{false};
int64_t modeSentAt = 0;  // counter value when the mode was last sent

// Why the last open failed; 0 when it did not.
int32_t openRefusal = 0;

// Set when a memory read or write answer (0x21, 0x22) arrives while the
// rumble is on. The program never asks for one: another writer, the
// kernel's driver, has just written with the rumble bit clear and stopped
// the motor.
std::atomic<bool> rumbleStopped{false};

// Set once a return has been answered; returnedAt is when. Soon after a
// return the kernel's driver sets the remote up its own way (see ReportsDue).
bool returnAnswered = false;
int64_t returnedAt = 0;

// The output reports this link sends.
bool SentByTheLink(uint8_t id) {
    return id == kReportLeds || id == kReportMode || id == kReportRumble;
}

LinkWanted Wanted() {
    return {.modeSet = modeSet,
            .modeFlags = modeFlags,
            .mode = modeValue,
            .ledsSet = ledsSet,
            .leds = ledsValue,
            .rumble = rumbleOn};
}

LinkObserved Observed() {
    return {.statusReport = modeLost,
            .otherMode = modeWrong,
            .rumbleStopped = rumbleStopped,
            .returned = remoteReturned,
            .msSinceModeSent = MsSince(modeSentAt),
            .msSinceReturn = returnAnswered ? MsSince(returnedAt) : -1.0};
}

// Sends one report and notes what it answers: a mode sent answers a lost or
// wrong mode, a rumble sent a stopped motor. Only the bytes the report names
// are written: the rest of OutputBuffer keeps what earlier reports left, and
// the library sends no more than each report's own length anyway.
int32_t Send(const LinkReport& report) {
    std::copy(report.begin(), report.end(), OutputBuffer);
    if (report[0] == kReportMode) {
        modeLost = false;
        modeWrong = false;
        modeSentAt = ReadCounter();
    } else if (report[0] == kReportRumble) {
        rumbleStopped = false;
    }
    return WriteReport(hidHandle, OutputBuffer, &writeCount);
}

// On the link's thread: sends what the remote is owed for what was seen.
void Answer(const LinkObserved& observed) {
    if (observed.returned) {
        // Its motor stopped with it; the rest of a pulse goes without.
        rumbleOn = false;
        remoteReturned = false;
        returnAnswered = true;
        returnedAt = ReadCounter();
    }
    for (const LinkReport& report : ReportsDue(Wanted(), observed)) {
        Send(report);
    }
}

}  // namespace

bool OpenRemote() {
    linkThread = std::this_thread::get_id();
    modeLost = false;
    remoteReturned = false;
    modeSet = false;
    ledsSet = false;
    rumbleOn = false;
    modeWrong = false;
    rumbleStopped = false;
    returnAnswered = false;
    const int32_t original = TryOpenHidHandle(kRemoteVendorId, kRemoteProductId);
    hidHandle = original;
    openRefusal = 0;
    if (original < 0) {
        // The Wii Remote Plus takes the same reports on hidraw.
        const int32_t plus = TryOpenHidHandle(kRemoteVendorId, kRemotePlusProductId);
        hidHandle = plus >= 0 ? plus : -1;
        openRefusal = plus >= 0 ? 0 : original != TINY_HID_ABSENT ? original : plus;
    }
    openHandle = hidHandle;
    return hidHandle != -1;
}

int32_t RemoteOpenRefusal() {
    return openRefusal;
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

int32_t SetLeds(uint8_t value) {
    ledsSet = true;
    ledsValue = value;
    return Send(LedsReport(Wanted()));
}

int32_t SetReportMode(uint8_t flags, uint8_t mode) {
    modeSet = true;
    modeFlags = flags;
    modeValue = mode;
    return Send(ModeReport(Wanted()));
}

int32_t SetRumble(uint8_t on) {
    rumbleOn = on != 0;
    return Send(RumbleReport(rumbleOn));
}

int32_t RequestStatus() {
    return Send(StatusRequestReport(Wanted()));
}

void DecodeReport(const uint8_t* report, int32_t length) {
    if (length < 1) {
        return;
    }
    const int32_t wholeLength = ButtonsDataReportLength(report[0]);
    if (modeSet && wholeLength > 0 && length >= wholeLength) {
        modeWrong = report[0] != modeValue;
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
        case kReportMemoryData:
            if (rumbleOn) {
                rumbleStopped = true;
            }
            break;
        case kReportAcknowledge:
            // The remote answers some of our own reports too; only an answer
            // to another writer's report shows that writer.
            if (rumbleOn && length > kAcknowledgedReportByte &&
                !SentByTheLink(report[kAcknowledgedReportByte])) {
                rumbleStopped = true;
            }
            break;
        default:
            break;
    }
}

void KeepRumble() {
    if (std::this_thread::get_id() == linkThread) {
        Answer({.rumbleStopped = rumbleStopped});
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
// An answer says nothing of the hand, and the library keeps only the newest
// data while it hands over the answers held before it, one a read: a poll
// reads on past them (as many as it holds), or the kernel's driver's four
// would cost the caller four passes of its loop and a strike that fell in
// them.
void PollRemote() {
    const bool onLinkThread = std::this_thread::get_id() == linkThread;
    for (int32_t answers = 0;;) {
        if (onLinkThread) {
            Answer(Observed());
        }
        // Only what this read delivered is decoded: the buffer may still hold
        // an older, longer report (or a status report already answered). A
        // reader thread reads into its own buffer: one that outlived its
        // join may still be in a read beside the link's thread.
        uint8_t readerBuffer[kReportBufferSize];
        uint8_t* buffer = onLinkThread ? InputBuffer : readerBuffer;
        // The link's thread puts a returned remote back and reads on, so that
        // the return costs its caller no report; a reader leaves it to that
        // thread's next poll.
        const int32_t length = ReadRemote(buffer);
        if (length == TINY_HID_REOPENED && onLinkThread) {
            continue;
        }
        if (length > 0 && IsAnswerReport(buffer[0]) && ++answers <= kHidHeldAnswers) {
            continue;
        }
        return;
    }
}

int32_t ReadRemote(uint8_t* buffer) {
    uint32_t count = 0;
    const int32_t length = ReadReport(hidHandle, buffer, &count);
    if (length == TINY_HID_REOPENED) {
        remoteReturned = true;
    } else if (length > 0) {
        DecodeReport(buffer, length);
    }
    return length;
}

void AnswerRemote() {
    if (std::this_thread::get_id() == linkThread) {
        Answer(Observed());
    }
}
