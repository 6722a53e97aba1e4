#include "fake_thread.h"

#include "platform/thread.h"

bool fakeThreadStartSucceeds = true;
bool fakeThreadRunsBody = false;
std::function<void()> fakeOnSleep;
int fakeThreadStarts = 0;
int fakeThreadJoins = 0;
int fakeThreadSleeps = 0;

void ResetFakeThread() {
    fakeThreadStartSucceeds = true;
    fakeThreadRunsBody = false;
    fakeOnSleep = nullptr;
    fakeThreadStarts = 0;
    fakeThreadJoins = 0;
    fakeThreadSleeps = 0;
}

bool StartThread(void (*body)()) {
    ++fakeThreadStarts;
    if (fakeThreadStartSucceeds && fakeThreadRunsBody) {
        body();
    }
    return fakeThreadStartSucceeds;
}

bool JoinThread(int32_t) {
    ++fakeThreadJoins;
    return true;
}

void SleepMs(int32_t) {
    ++fakeThreadSleeps;
    if (fakeOnSleep) {
        fakeOnSleep();
    }
}
