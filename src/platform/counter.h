// The high-resolution counter that every wait on the main thread spins on.
#pragma once

#include <cstdint>

// Ticks of a monotonic counter that never goes backwards.
int64_t ReadCounter();

// Ticks per second of ReadCounter; constant for the life of the process.
int64_t CounterFrequency();
