#include "platform/counter.h"

#include <sched.h>
#include <time.h>

int64_t ReadCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int64_t CounterFrequency() {
    return 1'000'000'000;
}

void OfferProcessor() {
    sched_yield();
}
