// Requests from outside to end the program: Ctrl+C, a termination request, a
// closed terminal.
#pragma once

#include <cstdint>

// From now on the first interrupt, terminate or hang-up signal calls
// onRequest with its number instead of ending the process; a second one of
// the same kind ends the process at once, in case the program cannot end by
// itself. onRequest runs in a signal handler on whichever thread the signal
// lands: it may only store to lock-free atomics and make async-signal-safe
// calls. A signal also ends a console wait for Enter, which then returns.
void CatchEndRequests(void (*onRequest)(int32_t signalNumber));

// Ends the process with this exit status, standard output flushed.
[[noreturn]] void EndProcess(int32_t status);
