#include "hid/scripted/script.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

namespace {

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) == 0) {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

bool ParseMs(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= kMaxScriptTimeMs;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool ParseByte(std::string_view text, uint8_t& value) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    int v = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        v = v * 16 + digit;
    }
    value = static_cast<uint8_t>(v);
    return true;
}

// "T" or "A-B/P" into first, last and period.
bool ParseTimes(std::string_view text, int64_t& first, int64_t& last, int64_t& period) {
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        period = 1;
        return ParseMs(text, first) && ParseMs(text, last);
    }
    const size_t slash = text.find('/', dash);
    if (slash == std::string_view::npos) {
        return false;
    }
    return ParseMs(text.substr(0, dash), first) &&
           ParseMs(text.substr(dash + 1, slash - dash - 1), last) &&
           ParseMs(text.substr(slash + 1), period) && period > 0 && first <= last;
}

// "A-B" with A < B.
bool ParseGap(std::string_view text, ScriptGap& gap) {
    const size_t dash = text.find('-');
    return dash != std::string_view::npos && ParseMs(text.substr(0, dash), gap.fromMs) &&
           ParseMs(text.substr(dash + 1), gap.untilMs) && gap.fromMs < gap.untilMs;
}

}  // namespace

std::string ParseScript(std::string_view text, Script& script) {
    script = Script{};
    std::map<int64_t, std::vector<uint8_t>> byTime;
    size_t expanded = 0;
    bool anyReportLine = false;
    int lineNumber = 0;

    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";

        if (words[0] == "absent") {
            if (words.size() != 1) {
                return where + "'absent' takes nothing after it";
            }
            script.absent = true;
            continue;
        }

        if (words[0] == "gone") {
            ScriptGap gap{};
            if (words.size() != 2 || !ParseGap(words[1], gap)) {
                return where + "expected 'gone A-B' (whole ms, A < B)";
            }
            script.gaps.push_back(gap);
            continue;
        }

        if (words[0] == "product") {
            uint8_t high = 0;
            uint8_t low = 0;
            if (words.size() != 2 || words[1].size() != 4 ||
                !ParseByte(words[1].substr(0, 2), high) || !ParseByte(words[1].substr(2), low)) {
                return where + "expected 'product PPPP' (four hex digits)";
            }
            script.productId = high << 8 | low;
            continue;
        }

        if (words[0] == "accessory") {
            int64_t timeMs = 0;
            if (words.size() != 2 || !ParseMs(words[1], timeMs)) {
                return where + "expected 'accessory T' (whole ms)";
            }
            if (++expanded > kMaxScriptReports) {
                return where + "the script expands to more than 1000000 reports";
            }
            script.accessoryMs.push_back(timeMs);
            byTime[timeMs].assign(std::begin(kAccessoryStatusReport),
                                  std::end(kAccessoryStatusReport));
            anyReportLine = true;
            continue;
        }

        int64_t first = 0;
        int64_t last = 0;
        int64_t period = 0;
        if (!ParseTimes(words[0], first, last, period)) {
            return where + "expected a time T or A-B/P (whole ms, A <= B, P > 0), got '" +
                   std::string(words[0]) + "'";
        }
        if (words.size() < 2) {
            return where + "a report needs at least its identifier byte";
        }
        if (words.size() - 1 > TINY_HID_BUFFER_SIZE) {
            return where + "a report has at most 256 bytes";
        }
        std::vector<uint8_t> bytes(words.size() - 1);
        for (size_t i = 1; i < words.size(); ++i) {
            if (!ParseByte(words[i], bytes[i - 1])) {
                return where + "expected a hex byte, got '" + std::string(words[i]) + "'";
            }
        }
        const int64_t count = (last - first) / period + 1;
        expanded += static_cast<size_t>(count);
        if (expanded > kMaxScriptReports) {
            return where + "the script expands to more than 1000000 reports";
        }
        for (int64_t t = first; t <= last; t += period) {
            byTime[t] = bytes;
        }
        anyReportLine = true;
    }

    if (script.absent && anyReportLine) {
        return "'absent' cannot be combined with reports";
    }
    if (script.absent && !script.gaps.empty()) {
        return "'absent' cannot be combined with 'gone'";
    }
    std::sort(script.accessoryMs.begin(), script.accessoryMs.end());
    std::sort(script.gaps.begin(), script.gaps.end(),
              [](const ScriptGap& a, const ScriptGap& b) { return a.fromMs < b.fromMs; });
    for (size_t i = 1; i < script.gaps.size(); ++i) {
        if (script.gaps[i].fromMs < script.gaps[i - 1].untilMs) {
            return "'gone' periods overlap";
        }
    }
    script.reports.reserve(byTime.size());
    for (auto& [timeMs, bytes] : byTime) {
        script.reports.push_back(ScriptReport{timeMs, std::move(bytes)});
    }
    return "";
}
