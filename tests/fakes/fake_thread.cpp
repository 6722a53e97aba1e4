#include "fake_thread.h"

#include "platform/thread.h"

bool fakeThreadStartSucceeds = true;
bool fakeThreadEnds = true;
bool fakeThreadRunning = false;
bool fakeThreadRunsBody = false;
std::function<void()> fakeOnSleep;
int fakeThreadStarts = 0;
int fakeThreadJoins = 0;
int fakeThreadSleeps = 0;

void ResetFakeThread() {
    fakeThreadStartSucceeds = true;
    fakeThreadEnds = true;
    fakeThreadRunning = false;
    fakeThreadRunsBody = false;
    fakeOnSleep = nullptr;
    fakeThreadStarts = 0;
    fakeThreadJoins = 0;
    fakeThreadSleeps = 0;
}

bool StartThread(void (*body)()) {
    ++fakeThreadStarts;
    if (!fakeThreadStartSucceeds || fakeThreadRunning) {
        return false;
    }
    if (fakeThreadRunsBody) {
        body();
    } else {
        fakeThreadRunning = !fakeThreadEnds;
    }
    return true;
}

bool JoinThread(int32_t timeoutMs) {
    if (timeoutMs > 0) {
        ++fakeThreadJoins;
    }
    return !fakeThreadRunning;
}

void SleepMs(int32_t) {
    ++fakeThreadSleeps;
    if (fakeOnSleep) {
        fakeOnSleep();
    }
}
