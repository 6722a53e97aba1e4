#include "remote/probe.h"

#include "config.h"
#include "core/wait.h"
#include "platform/thread.h"
#include "remote/remote_link.h"

std::atomic<bool> readerRun;
std::atomic<bool> readerInLoop;

static_assert(sizeof(readerRun) == 1 && decltype(readerRun)::is_always_lock_free);

namespace {

// The reader thread's body.
void ReaderLoop() {
    while (readerRun.load(std::memory_order_relaxed)) {
        readerInLoop.store(true, std::memory_order_relaxed);
        PollRemote();
        for (int32_t slept = 0; slept < kReaderPauseMs && readerRun.load(std::memory_order_relaxed);
             slept += kReaderPauseSliceMs) {
            SleepMs(kReaderPauseSliceMs);
        }
    }
    readerInLoop.store(false, std::memory_order_relaxed);
}

}  // namespace

// A reader that outlived its join is caught where a cancel does not reach;
// readerRun stays clear until it has ended, so the read it is caught in is
// its last. JoinThread(0) says whether it has ended yet.
bool StartReader(void (*body)()) {
    if (!JoinThread(0)) {
        return false;
    }
    readerRun.store(true, std::memory_order_relaxed);
    if (StartThread(body)) {
        return true;
    }
    readerRun.store(false, std::memory_order_relaxed);
    return false;
}

// A thread that cannot be started leaves accelX at 0: the probe then fails
// like a silent remote. The window is the reader's, not the thread start's:
// a remote that reports is not judged silent for a reader that could not
// start in time.
bool ProbeRemote() {
    remoteState.accelX = 0;
    if (StartReader(ReaderLoop)) {
        for (int32_t waited = 0;
             !readerInLoop.load(std::memory_order_relaxed) && waited < kReaderStartLimitMs;
             ++waited) {
            WaitMs(1);
        }
    }
    WaitMs(kProbeWindowMs);
    readerRun.store(false, std::memory_order_relaxed);
    return remoteState.accelX != 0;
}

namespace {

// Cancelled reads return within a few ms, and the reader's pause is 100 ms:
// the reader ends well inside this bound.
void CancelReadsAndJoin() {
    CancelPolls(true);
    JoinThread(kReaderStopMs);
    CancelPolls(false);
}

}  // namespace

void StopReader() {
    if (readerInLoop.load(std::memory_order_relaxed)) {
        CancelReadsAndJoin();
    }
}

void FinishReader() {
    readerRun.store(false, std::memory_order_relaxed);
    CancelReadsAndJoin();
}
