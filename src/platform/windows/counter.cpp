#include "platform/counter.h"

#include <windows.h>

int64_t ReadCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t CounterFrequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER perSecond;
        QueryPerformanceFrequency(&perSecond);
        return perSecond.QuadPart;
    }();
    return frequency;
}

void OfferProcessor() {
    SwitchToThread();
}
