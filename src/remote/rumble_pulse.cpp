#include "remote/rumble_pulse.h"

#include "core/wait.h"
#include "platform/counter.h"
#include "remote/probe.h"
#include "remote/remote_link.h"

namespace {

// Reads without a pause: the kernel driver's writes are answered within
// milliseconds, and the answer is all that shows them.
void WatchLoop() {
    while (readerRun.load(std::memory_order_relaxed)) {
        readerInLoop.store(true, std::memory_order_relaxed);
        PollRemote();
    }
    readerInLoop.store(false, std::memory_order_relaxed);
}

}  // namespace

// The watcher is the probe's reader in another loop, so that an end of the
// program during the pulse stops it as it stops the probe's.
void PulseRumble(int32_t ms) {
    // Timed from the write that starts the motor: starting the watcher takes
    // a few ms of its own under wine.
    SetRumble(1);
    const int64_t start = ReadCounter();
    const bool watching = StartReader(WatchLoop);
    WaitMsSince(start, ms, KeepRumble);
    SetRumble(0);
    readerRun.store(false, std::memory_order_relaxed);
    if (watching) {
        FinishReader();
    }
}
