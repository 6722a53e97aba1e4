#include "platform/signals.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

void (*requestHandler)(int32_t) = nullptr;

void OnSignal(int signalNumber) {
    requestHandler(signalNumber);
}

}  // namespace

void CatchEndRequests(void (*onRequest)(int32_t signalNumber)) {
    requestHandler = onRequest;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of standard input waiting for Enter must return.
    // SA_RESETHAND: the second signal takes the default way out.
    action.sa_flags = SA_RESETHAND;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
}

void EndProcess(int32_t status) {
    std::fflush(nullptr);
    std::exit(status);
}
