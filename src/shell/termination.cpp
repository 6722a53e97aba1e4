#include "shell/termination.h"

#include "config.h"
#include "core/wait.h"
#include "platform/end_request.h"
#include "remote/probe.h"
#include "remote/remote_link.h"

namespace {

// A signal handler must not call the HID library's reads and writes: it may
// have interrupted one. It only records the request and cancels reads, a
// single atomic store; the main thread, woken from its read or busy in a
// wait, does the rest between two of its own writes.
void OnEndRequest(EndReason reason) {
    RequestEnd(reason);
    InterruptPolls();
}

// Carries out a request on the main thread: the probe's reader is stopped
// before the link is closed, the motor and LEDs are switched off, and the
// process ends with the platform's status for the request.
[[noreturn]] void EndProgramOnRequest(EndReason reason) {
    if (RemoteIsOpen()) {
        FinishReader();
        SetRumble(0);
        SetLeds(kLedsNone);
        CloseRemote();
    }
    EndProcess(EndRequestExitStatus(reason));
}

}  // namespace

void CatchTermination() {
    SetEndHandler(EndProgramOnRequest);
    CatchEndRequests(OnEndRequest);
}
