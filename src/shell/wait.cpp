#include "shell/wait.h"

#include "platform/counter.h"

void WaitMs(int32_t ms) {
    const double frequency = static_cast<double>(CounterFrequency());
    const int64_t start = ReadCounter();
    for (;;) {
        const double elapsed = static_cast<double>(ReadCounter() - start) / frequency * 1000.0;
        if (ms < elapsed) {
            return;
        }
    }
}
