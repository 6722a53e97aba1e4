#include "shell/wait.h"

#include <atomic>
#include <thread>

#include "platform/counter.h"

namespace {

std::atomic<int32_t> pendingEnd{0};
static_assert(std::atomic<int32_t>::is_always_lock_free);
void (*endHandler)(int32_t) = nullptr;
std::thread::id endThread;

}  // namespace

void WaitMs(int32_t ms) {
    const double frequency = static_cast<double>(CounterFrequency());
    const int64_t start = ReadCounter();
    for (;;) {
        EndIfRequested();
        const double elapsed = static_cast<double>(ReadCounter() - start) / frequency * 1000.0;
        if (ms < elapsed) {
            return;
        }
    }
}

void RequestEnd(int32_t signalNumber) {
    int32_t none = 0;
    pendingEnd.compare_exchange_strong(none, signalNumber);
}

int32_t PendingEndRequest() {
    return pendingEnd.load();
}

void SetEndHandler(void (*endProgram)(int32_t signalNumber)) {
    endThread = std::this_thread::get_id();
    endHandler = endProgram;
}

void EndIfRequested() {
    const int32_t signalNumber = pendingEnd.load(std::memory_order_relaxed);
    if (signalNumber != 0 && endHandler != nullptr && std::this_thread::get_id() == endThread) {
        endHandler(signalNumber);
    }
}
