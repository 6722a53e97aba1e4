// The connection probe: before the blade runs, a reader thread checks for a
// moment that the remote really sends accelerometer reports.
#pragma once

#include <atomic>

// One byte each, shared by the main thread and the reader without a lock.
extern std::atomic<bool> readerRun;     // the reader loops while set
extern std::atomic<bool> readerInLoop;  // the reader is inside its loop

// Starts body as the reader thread and sets readerRun for it. Refuses while
// a reader that outlived its join still runs: that one must find readerRun
// clear and leave. Returns false when no reader was started.
bool StartReader(void (*body)());

// Reads reports on a reader thread while the main thread times 100 ms from
// the reader's start (which it waits for up to kReaderStartLimitMs). Returns
// true when the remote sent an accelerometer report with a non-zero X byte
// in that window.
bool ProbeRemote();

// After a failed probe: stops a reader still inside its loop, freeing it from
// a read it is blocked in. Once it returns no reader is reading. A reader that
// had already left its loop is left alone.
void StopReader();

// After a successful probe, or when the program ends early: tells the reader
// to leave its loop and makes sure it has ended, freeing it from a read it
// may still be caught in, so that only the main thread reads from now on.
void FinishReader();
