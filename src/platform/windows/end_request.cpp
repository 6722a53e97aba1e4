#include "platform/end_request.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "config.h"

namespace {

void (*requestHandler)(EndReason) = nullptr;
std::atomic<bool> requested{false};

EndReason ReasonOf(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return EndReason::Interrupt;
        case CTRL_CLOSE_EVENT:
            return EndReason::ConsoleClosed;
        default:  // CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
            return EndReason::Terminate;
    }
}

// Windows calls this on a thread of its own. The first request goes to the
// program, whose main thread ends the process; a later one is left to the
// system's default, which ends the process at once, in case the program
// cannot end by itself.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (requested.exchange(true)) {
        return FALSE;
    }
    requestHandler(ReasonOf(event));
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // For a closed console, a log-off or a shut-down the process ends as
    // soon as this returns: give the main thread its time to leave the
    // remote quiet first.
    Sleep(static_cast<DWORD>(kEndRequestGraceMs));
    return TRUE;
}

}  // namespace

void CatchEndRequests(void (*onRequest)(EndReason reason)) {
    requestHandler = onRequest;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int32_t EndRequestExitStatus(EndReason) {
    // Windows' own status for a console program ended by Ctrl+C, whichever
    // way the end was asked for.
    return static_cast<int32_t>(STATUS_CONTROL_C_EXIT);
}

// By now the remote is quiet and closed and the output flushed: nothing is
// left for an orderly exit's library clean-up to do. Under wine 10 that
// clean-up replaced the status with 0 in about one end in ten; ending the
// process outright keeps the status on every system.
void EndProcess(int32_t status) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    std::exit(status);  // Only if the call above could not end us.
}
