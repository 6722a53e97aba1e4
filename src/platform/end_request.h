// Requests from outside to end the program: Ctrl+C, a termination request, a
// closed terminal or console window.
#pragma once

#include <cstdint>

// Why the program is asked to end; None while nobody has asked.
// Linux: SIGINT is Interrupt, SIGTERM Terminate, SIGHUP HangUp. Windows:
// Ctrl+C and Ctrl+Break are Interrupt, a closed console window ConsoleClosed,
// log-off and shut-down Terminate.
enum class EndReason : uint8_t { None, Interrupt, Terminate, HangUp, ConsoleClosed };

// From now on the first interrupt, terminate or hang-up request calls
// onRequest with its reason instead of ending the process; a second one of
// the same kind ends the process at once, in case the program cannot end by
// itself. onRequest may run in a signal handler on whichever thread the
// request lands: it may only store to lock-free atomics and make
// async-signal-safe calls. A request also ends a console wait for Enter,
// which then returns.
void CatchEndRequests(void (*onRequest)(EndReason reason));

// The exit status of a program ended on this request, as the platform's
// shells report it. Linux: 128 + the signal's number. Windows:
// STATUS_CONTROL_C_EXIT (0xC000013A).
int32_t EndRequestExitStatus(EndReason reason);

// Ends the process with this exit status, standard output flushed.
[[noreturn]] void EndProcess(int32_t status);
