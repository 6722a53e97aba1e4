// What a session left behind, read back the same way whatever ran it.
#include <sstream>

#include "session.h"

std::vector<HidLogLine> ParseHidLog(const std::string& text) {
    std::vector<HidLogLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        HidLogLine parsed;
        std::istringstream words(line);
        words >> parsed.ms >> parsed.kind;
        std::getline(words >> std::ws, parsed.rest);
        const size_t at = parsed.rest.find(" @");
        if (at != std::string::npos) {
            parsed.scriptMs = std::stoll(parsed.rest.substr(at + 2));
            parsed.rest.resize(at);
        }
        lines.push_back(parsed);
    }
    return lines;
}

std::vector<HidLogLine> LinesOf(const SessionResult& session, const std::string& kind,
                                const std::string& rest) {
    std::vector<HidLogLine> found;
    for (const HidLogLine& line : session.log) {
        if (line.kind == kind && (rest.empty() || line.rest == rest)) {
            found.push_back(line);
        }
    }
    return found;
}

std::vector<std::string> Writes(const SessionResult& session) {
    std::vector<std::string> writes;
    for (const HidLogLine& line : LinesOf(session, "write")) {
        writes.push_back(line.rest);
    }
    return writes;
}

const std::vector<std::string> kStart = {"12 00 31", "11 f0", "11 00"};
const std::vector<std::string> kIgnite = {"11 10", "11 30", "11 70", "11 f0", "13 01", "13 00"};
const std::vector<std::string> kRetract = {"11 70", "11 30", "11 10", "11 00", "13 01", "13 00"};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
