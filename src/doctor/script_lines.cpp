#include "doctor/script_lines.h"

#include <algorithm>
#include <cstdio>

std::string ScriptLines::Line(double ms, const std::vector<uint8_t>& bytes) {
    const int64_t at = std::max(static_cast<int64_t>(ms), lastMs_ + 1);
    lastMs_ = at;
    std::string line = std::to_string(at);
    char hex[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02x", byte);
        line += hex;
    }
    return line + "\n";
}
