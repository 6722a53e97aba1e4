#include "remote/remote_link.h"

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

constexpr uint8_t kReportLeds = 0x11;
constexpr uint8_t kReportMode = 0x12;
constexpr uint8_t kReportRumble = 0x13;
constexpr uint8_t kReportButtons = 0x30;
constexpr uint8_t kReportButtonsAccel = 0x31;

}  // namespace

bool OpenRemote() {
    hidHandle = OpenHidHandle(kRemoteVendorId, kRemoteProductId);
    return hidHandle != -1;
}

void CloseRemote() {
    CloseHidHandle(hidHandle);
}

// Only the bytes a report names are written: the rest of OutputBuffer keeps
// what earlier reports left, and the library sends no more than each report's
// own length anyway.
int32_t SetLeds(uint8_t value) {
    OutputBuffer[0] = kReportLeds;
    OutputBuffer[1] = value;
    return WriteReport(hidHandle, OutputBuffer, &writeCount);
}

int32_t SetReportMode(uint8_t flags, uint8_t mode) {
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

void DecodeReport(const uint8_t* report) {
    switch (report[0]) {
        case kReportButtons:
            remoteState.buttons = report[2];
            break;
        case kReportButtonsAccel:
            remoteState.buttons = report[2];
            remoteState.accelX = report[3];
            remoteState.accelY = report[4];
            remoteState.accelZ = report[5];
            break;
        default:
            break;
    }
}

void CancelPolls(bool cancel) {
    CancelReadReport(hidHandle, cancel ? 1 : 0);
}

void PollRemote() {
    ReadReport(hidHandle, InputBuffer, &readCount);
    DecodeReport(InputBuffer);
}
