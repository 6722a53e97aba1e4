// Threads that never run: a test decides what the "reader" did.
#pragma once

#include <functional>

extern bool fakeThreadStartSucceeds;
// A thread that does not end: joins time out, and like the platform's,
// StartThread refuses another while it runs.
extern bool fakeThreadEnds;
extern bool fakeThreadRunning;
extern bool fakeThreadRunsBody;            // StartThread runs the body to its end at once
extern std::function<void()> fakeOnSleep;  // called by every SleepMs
extern int fakeThreadStarts;
extern int fakeThreadJoins;  // joins that wait; a look (0 ms) is none
extern int fakeThreadSleeps;

void ResetFakeThread();
