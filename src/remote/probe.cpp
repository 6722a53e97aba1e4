#include "remote/probe.h"

#include "config.h"
#include "platform/thread.h"
#include "remote/remote_link.h"
#include "shell/wait.h"

std::atomic<bool> readerRun;
std::atomic<bool> readerInLoop;

static_assert(sizeof(readerRun) == 1 && decltype(readerRun)::is_always_lock_free);

void ReaderLoop() {
    while (readerRun.load(std::memory_order_relaxed)) {
        readerInLoop.store(true, std::memory_order_relaxed);
        PollRemote();
        SleepMs(kReaderPauseMs);
    }
    readerInLoop.store(false, std::memory_order_relaxed);
}

// A thread that cannot be started leaves accelX at 0: the probe then fails
// like a silent remote.
bool ProbeRemote() {
    remoteState.accelX = 0;
    readerRun.store(true, std::memory_order_relaxed);
    StartThread(ReaderLoop);
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
    CancelReadsAndJoin();
}
