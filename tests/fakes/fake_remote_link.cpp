#include "fake_remote_link.h"

#include <algorithm>
#include <cstdio>

#include "core/wait.h"
#include "fake_counter.h"
#include "remote/remote_link.h"
#include "remote/rumble_pulse.h"

RemoteState remoteState;
int32_t hidHandle = -1;
uint8_t InputBuffer[kReportBufferSize];
uint8_t OutputBuffer[kReportBufferSize];

std::vector<FakeReport> fakeReports;
size_t fakePolls = 0;
bool fakeReportsRanOut = false;
std::vector<RemoteCall> remoteCalls;

namespace {

void Record(const char* what, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %02x", what, value);
    remoteCalls.push_back(RemoteCall{FakeNowMs(), text});
}

}  // namespace

void ResetFakeRemoteLink() {
    remoteState.buttons = 0;
    remoteState.accelX = 0;
    remoteState.accelY = 0;
    remoteState.accelZ = 0;
    fakeReports.clear();
    fakePolls = 0;
    fakeReportsRanOut = false;
    remoteCalls.clear();
}

std::vector<RemoteCall> CallsStartingWith(const std::string& prefix) {
    std::vector<RemoteCall> found;
    for (const RemoteCall& call : remoteCalls) {
        if (call.what.rfind(prefix, 0) == 0) {
            found.push_back(call);
        }
    }
    return found;
}

bool OpenRemote() {
    Record("open", 0);
    hidHandle = 0;
    return true;
}

void CloseRemote() {
    Record("close", 0);
}

int32_t SetLeds(uint8_t value) {
    Record("leds", value);
    return 2;
}

int32_t SetReportMode(uint8_t flags, uint8_t mode) {
    Record("mode", static_cast<unsigned>(flags << 8 | mode));
    return 3;
}

int32_t SetRumble(uint8_t on) {
    Record("rumble", on);
    return 2;
}

void PulseRumble(int32_t ms) {
    SetRumble(1);
    WaitMs(ms);
    SetRumble(0);
}

// Running out of reports ends the loop with Home, so a faulty controller
// cannot hang the test; the test then sees fakeReportsRanOut.
void PollRemote() {
    FakeReport report{0x80, 0x80, 0x80, 0x80};
    if (fakePolls < fakeReports.size()) {
        report = fakeReports[fakePolls];
    } else {
        fakeReportsRanOut = true;
    }
    fakeCounterNow =
        std::max(fakeCounterNow, static_cast<int64_t>(report.dueMs * kFakeTicksPerSecond / 1000.0));
    Record("poll", static_cast<unsigned>(fakePolls));
    ++fakePolls;
    remoteState.buttons = report.buttons;
    remoteState.accelX = report.accelX;
    remoteState.accelY = report.accelY;
    remoteState.accelZ = report.accelZ;
}

void DecodeReport(const uint8_t*) {}

void CancelPolls(bool cancel) {
    Record("cancel", cancel ? 1 : 0);
}
