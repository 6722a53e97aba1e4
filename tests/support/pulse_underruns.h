// The underruns of a private PulseAudio server (scripts/private_pulse.sh),
// read from its debug log, whose path it puts in GLOWBRAND_PULSE_LOG.
#pragma once

#include <cstdlib>
#include <string>

#include "read_file.h"

// The underruns the server has logged so far; 0 without one. `drive` goes
// before the log's path where that is read through wine ("Z:"). After one, a
// recording of its monitor may hold a stretch twice (the server plays it
// again on rewinding), or miss the first frames played after it (mixed into
// frames the sink had already passed to the monitor).
inline int PulseUnderruns(const std::string& drive = "") {
    const char* log = std::getenv("GLOWBRAND_PULSE_LOG");
    if (log == nullptr) {
        return 0;
    }
    const std::string text = ReadFile(drive + log);
    int count = 0;
    for (const char* mark : {"Underrun on", "Implicit underrun"}) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
            ++count;
        }
    }
    return count;
}
