// The scripted remote's script: which reports a pretend remote sends, when.
//
//   # a comment, up to the end of the line; blank lines are ignored
//   absent                 there is no remote (alone in its script)
//   T B0 B1 ...            at T ms after the open, send report B0 B1 ...
//   A-B/P B0 B1 ...        the same report at A, A+P, A+2P, ... up to B
//   gone A-B               the remote vanishes at A ms and is back at B (A < B)
//   accessory T            at T an accessory is plugged in or pulled out:
//                          the remote sends status report 20 00 00 00 00 00 c8
//                          and then no data reports (0x30-0x3f) until the
//                          program sets the report mode again
//   product PPPP           the remote's product id, hex (0306 unless named)
//
// Times are whole milliseconds, bytes are hex (B0 is the identifier, at most
// 256 bytes). Of two reports at the same time the later line's wins.
// Reports timed while the remote is gone are never delivered; `gone`
// periods must not overlap. docs/scripted-remote.md has examples and the
// call log's format; both formats only ever grow compatibly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hid/remote_protocol.h"

struct ScriptReport {
    int64_t timeMs;
    std::vector<uint8_t> bytes;
};

// The remote is away from fromMs until untilMs.
struct ScriptGap {
    int64_t fromMs;
    int64_t untilMs;
};

struct Script {
    bool absent = false;
    std::vector<ScriptReport> reports;  // in time order, one per time
    std::vector<ScriptGap> gaps;        // in time order, not overlapping
    std::vector<int64_t> accessoryMs;   // in time order: accessory events
    int32_t productId = kRemoteProductId;
};

// Most reports a script may expand to: bounds memory for any input.
constexpr size_t kMaxScriptReports = 1'000'000;
// Latest time a script may name, about 11.5 days.
constexpr int64_t kMaxScriptTimeMs = 1'000'000'000;

// Parses text into script. Returns "" on success, otherwise a one-line reason
// naming the line ("line 3: ..."), and script is then unspecified.
std::string ParseScript(std::string_view text, Script& script);
