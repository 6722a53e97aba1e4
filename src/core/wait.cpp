#include "core/wait.h"

#include <atomic>
#include <thread>

#include "platform/counter.h"

namespace {

std::atomic<EndReason> pendingEnd{EndReason::None};
static_assert(std::atomic<EndReason>::is_always_lock_free);
void (*endHandler)(EndReason) = nullptr;
std::thread::id endThread;

}  // namespace

void WaitMs(int32_t ms) {
    WaitMsSince(ReadCounter(), ms, nullptr);
}

void WaitMsSince(int64_t start, int32_t ms, void (*eachTurn)()) {
    for (;;) {
        EndIfRequested();
        if (ms < MsSince(start)) {
            return;
        }
        if (eachTurn != nullptr) {
            eachTurn();
        }
        OfferProcessor();
    }
}

void RequestEnd(EndReason reason) {
    EndReason none = EndReason::None;
    pendingEnd.compare_exchange_strong(none, reason);
}

EndReason PendingEndRequest() {
    return pendingEnd.load();
}

void SetEndHandler(void (*endProgram)(EndReason reason)) {
    endThread = std::this_thread::get_id();
    endHandler = endProgram;
}

void EndIfRequested() {
    const EndReason reason = pendingEnd.load(std::memory_order_relaxed);
    if (reason != EndReason::None && endHandler != nullptr &&
        std::this_thread::get_id() == endThread) {
        endHandler(reason);
    }
}
