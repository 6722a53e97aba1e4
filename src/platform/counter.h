// The high-resolution counter that every wait on the main thread spins on.
#pragma once

#include <cstdint>

// Ticks of a monotonic counter that never goes backwards.
int64_t ReadCounter();

// Ticks per second of ReadCounter; constant for the life of the process.
int64_t CounterFrequency();

// Milliseconds since `reading`, an earlier ReadCounter().
inline double MsSince(int64_t reading) {
    return static_cast<double>(ReadCounter() - reading) * 1000.0 /
           static_cast<double>(CounterFrequency());
}

// Lets a thread that is ready to run on this processor run first, and
// returns at once when there is none: the spin stays a spin on an idle
// machine, but does not hold up the sound server's threads on a busy one.
void OfferProcessor();
