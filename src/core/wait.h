// The millisecond wait of every timed step on the main thread, and the
// mailbox through which a request to end the program reaches that thread.
#pragma once

#include <cstdint>

#include "platform/end_request.h"

// Spins on the high-resolution counter until strictly more than ms
// milliseconds have passed. Never sleeps: the toy's timings stay exact at the
// cost of a busy processor.
void WaitMs(int32_t ms);

// The same spin, timed from `start` (an earlier ReadCounter()), calling
// `eachTurn` on every turn but the last: for a step that must be kept up
// while it lasts.
void WaitMsSince(int64_t start, int32_t ms, void (*eachTurn)());

// A request to end the program, made from outside (a signal on Linux) and
// carried out by the main thread at its next wait or read, where no write of
// its own is under way.

// Records the request; only the first one counts. Async-signal-safe.
void RequestEnd(EndReason reason);

// The reason of the pending request, EndReason::None if there is none.
EndReason PendingEndRequest();

// Names what carries out a request, and the thread that does it: the calling
// one. Until then requests are only recorded.
void SetEndHandler(void (*endProgram)(EndReason reason));

// On the handler's thread, with a request pending: calls the handler. Every
// spin of WaitMs calls it, so a request is carried out within microseconds
// of any busy wait.
void EndIfRequested();
