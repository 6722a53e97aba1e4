#include "shell/termination.h"

#include "config.h"
#include "platform/signals.h"
#include "remote/probe.h"
#include "remote/remote_link.h"
#include "shell/wait.h"

void CatchTermination() {
    SetEndHandler(EndProgramOnSignal);
    CatchEndRequests(OnEndSignal);
}

// A signal handler must not call the HID library's reads and writes: it may
// have interrupted one. It only records the request and cancels reads, a
// single atomic store; the main thread, woken from its read or busy in a
// wait, does the rest between two of its own writes.
void OnEndSignal(int32_t signalNumber) {
    RequestEnd(signalNumber);
    InterruptPolls();
}

void EndProgramOnSignal(int32_t signalNumber) {
    if (RemoteIsOpen()) {
        readerRun = false;
        FinishReader();
        SetRumble(0);
        SetLeds(kLedsNone);
        CloseRemote();
    }
    EndProcess(kSignalExitBase + signalNumber);
}
