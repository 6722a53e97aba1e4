#include "platform/end_request.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Shells report a process ended by a signal as this plus the signal's number.
constexpr int32_t kSignalExitBase = 128;

void (*requestHandler)(EndReason) = nullptr;

EndReason ReasonOf(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return EndReason::Interrupt;
        case SIGTERM:
            return EndReason::Terminate;
        case SIGHUP:
            return EndReason::HangUp;
        default:
            return EndReason::None;
    }
}

int SignalOf(EndReason reason) {
    switch (reason) {
        case EndReason::Interrupt:
            return SIGINT;
        case EndReason::Terminate:
            return SIGTERM;
        case EndReason::HangUp:
        case EndReason::ConsoleClosed:  // a terminal's way of closing
            return SIGHUP;
        case EndReason::None:
            break;
    }
    return 0;
}

void OnSignal(int signalNumber) {
    requestHandler(ReasonOf(signalNumber));
}

}  // namespace

void CatchEndRequests(void (*onRequest)(EndReason reason)) {
    requestHandler = onRequest;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of standard input waiting for Enter must return.
    // SA_RESETHAND: the second signal takes the default way out.
    action.sa_flags = SA_RESETHAND;
    for (const int signalNumber : kEndSignals) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (const int signalNumber : kEndSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

int32_t EndRequestExitStatus(EndReason reason) {
    return kSignalExitBase + SignalOf(reason);
}

void EndProcess(int32_t status) {
    std::fflush(nullptr);
    std::exit(status);
}
