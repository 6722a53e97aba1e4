#include "fake_counter.h"

#include "platform/counter.h"

int64_t fakeCounterNow = 0;
int64_t fakeCounterReads = 0;
int64_t fakeProcessorOffers = 0;
std::function<void()> fakeOnCounterRead;

double FakeNowMs() {
    return static_cast<double>(fakeCounterNow) * 1000.0 / kFakeTicksPerSecond;
}

void ResetFakeCounter() {
    fakeCounterNow = 0;
    fakeCounterReads = 0;
    fakeProcessorOffers = 0;
    fakeOnCounterRead = nullptr;
}

int64_t ReadCounter() {
    ++fakeCounterReads;
    fakeCounterNow += kFakeTickPerRead;
    if (fakeOnCounterRead) {
        fakeOnCounterRead();
    }
    return fakeCounterNow;
}

int64_t CounterFrequency() {
    return kFakeTicksPerSecond;
}

void OfferProcessor() {
    ++fakeProcessorOffers;
}
