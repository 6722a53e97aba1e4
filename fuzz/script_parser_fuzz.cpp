// Any text as the scripted remote's script: the parser either names a line it
// cannot read or yields a script within the limits the remote relies on.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hid/scripted/script.h"
#include "hid/tiny_hid.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Script script;
    const std::string error =
        ParseScript(std::string_view(reinterpret_cast<const char*>(data), size), script);
    if (!error.empty()) {
        Check(error.find('\n') == std::string::npos);
        return 0;
    }
    Check(!script.absent || (script.reports.empty() && script.gaps.empty()));
    Check(script.reports.size() <= kMaxScriptReports);
    int64_t previous = -1;
    for (const ScriptReport& report : script.reports) {
        Check(report.timeMs > previous && report.timeMs <= kMaxScriptTimeMs);
        Check(!report.bytes.empty() && report.bytes.size() <= TINY_HID_BUFFER_SIZE);
        previous = report.timeMs;
    }
    int64_t until = -1;
    for (const ScriptGap& gap : script.gaps) {
        Check(gap.fromMs >= until && gap.fromMs < gap.untilMs && gap.untilMs <= kMaxScriptTimeMs);
        until = gap.untilMs;
    }
    for (size_t i = 1; i < script.accessoryMs.size(); ++i) {
        Check(script.accessoryMs[i - 1] <= script.accessoryMs[i]);
    }
    return 0;
}
