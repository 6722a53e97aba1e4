// A counter in virtual time: every read moves it on by one tick, so waits
// cost no real time and every timing is exact and repeatable.
#pragma once

#include <cstdint>
#include <functional>

constexpr int64_t kFakeTicksPerSecond = 1'000'000;  // 1 tick = 1 us
constexpr int64_t kFakeTickPerRead = 10;            // 10 us per read

extern int64_t fakeCounterNow;
extern int64_t fakeCounterReads;
extern int64_t fakeProcessorOffers;              // calls of OfferProcessor
extern std::function<void()> fakeOnCounterRead;  // called by every read, when set

// Virtual milliseconds since the last reset.
double FakeNowMs();

void ResetFakeCounter();
