// Ending the program on Ctrl+C, a termination request or a closed terminal:
// promptly, with exit status 128 + the signal's number, and with the remote
// left quiet (rumble off, LEDs dark, link closed).
#pragma once

#include <cstdint>

// Catches the end signals from now on; the calling (main) thread carries a
// request out at its next wait or read. Called first thing at start-up.
void CatchTermination();

// What a signal does: records the request and frees a read waiting on the
// remote so that the main thread sees it. Async-signal-safe.
void OnEndSignal(int32_t signalNumber);

// Carries out a request on the main thread: the probe's reader is stopped
// before the link is closed, the motor and LEDs are switched off, and the
// process ends with status 128 + signalNumber. Never returns.
[[noreturn]] void EndProgramOnSignal(int32_t signalNumber);
