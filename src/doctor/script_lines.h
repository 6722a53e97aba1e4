// The recording's lines: reports as the scripted remote's script has them
// (docs/scripted-remote.md), so that glowbrand-scripted replays them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Turns reports, in the order they came, into script lines "T B0 B1 ...":
// T in whole ms since the open, the bytes in hex. The replay keeps one
// report per ms (a later line replaces an earlier one at the same time), so
// a report in the same ms as the one before it goes one ms later.
class ScriptLines {
public:
    std::string Line(double ms, const std::vector<uint8_t>& bytes);

private:
    int64_t lastMs_ = -1;
};
