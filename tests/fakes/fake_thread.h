// Threads that never run: a test decides what the "reader" did.
#pragma once

#include <functional>

extern bool fakeThreadStartSucceeds;
extern bool fakeThreadRunsBody;            // StartThread runs the body to its end at once
extern std::function<void()> fakeOnSleep;  // called by every SleepMs
extern int fakeThreadStarts;
extern int fakeThreadJoins;
extern int fakeThreadSleeps;

void ResetFakeThread();
