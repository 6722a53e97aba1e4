// The millisecond wait of every timed step on the main thread.
#pragma once

#include <cstdint>

// Spins on the high-resolution counter until strictly more than ms
// milliseconds have passed. Never sleeps: the toy's timings stay exact at the
// cost of a busy processor.
void WaitMs(int32_t ms);
