// A thread for the remote's reader: the start-up probe's, or a rumble pulse's
// watcher, one at a time beside the main thread. (The sound service and the
// keyboard remote keep threads of their own; docs/design.md lists them all.)
#pragma once

#include <cstdint>

// Starts body on a new thread with the default stack. Only one thread may be
// started at a time. Returns false when no thread could be started.
bool StartThread(void (*body)());

// Waits up to timeoutMs for the started thread to end and releases it.
// Returns true when it has ended, or when there is none; false when it is
// still running after the timeout.
bool JoinThread(int32_t timeoutMs);

// Sleeps the calling thread for ms milliseconds.
void SleepMs(int32_t ms);
