#include "fake_counter.h"

#include "platform/counter.h"

int64_t fakeCounterNow = 0;
int64_t fakeCounterReads = 0;

double FakeNowMs() {
    return static_cast<double>(fakeCounterNow) * 1000.0 / kFakeTicksPerSecond;
}

void ResetFakeCounter() {
    fakeCounterNow = 0;
    fakeCounterReads = 0;
}

int64_t ReadCounter() {
    ++fakeCounterReads;
    fakeCounterNow += kFakeTickPerRead;
    return fakeCounterNow;
}

int64_t CounterFrequency() {
    return kFakeTicksPerSecond;
}
