#include "doctor/recording.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include "config.h"
#include "doctor/check.h"
#include "doctor/report_pump.h"
#include "doctor/script_lines.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "platform/end_request.h"
#include "platform/system_facts.h"
#include "remote/remote_link.h"

namespace {

std::atomic<bool> endAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void AskToEnd(EndReason) {
    endAsked = true;
}

// The remote as the script's comment names it, and the script's product line
// for a Plus (the scripted remote plays the original unless told); its path
// in *path.
std::string RemoteLines(std::string& path) {
    TinyHidDevice devices[1];
    std::string lines;
    for (const int32_t product : {kRemoteProductId, kRemotePlusProductId}) {
        if (ListHidDevices(kRemoteVendorId, product, devices, 1) > 0) {
            char line[TINY_HID_PATH_SIZE + 64];
            std::snprintf(line, sizeof line, "# remote 057e:%04x at %s\n", product,
                          devices[0].path);
            lines = line;
            path = devices[0].path;
            if (product == kRemotePlusProductId) {
                lines += "product 0330\n";
            }
            break;
        }
    }
    return lines;
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    return text;
}

}  // namespace

int32_t RecordSession(const char* file, int32_t seconds) {
    CatchEndRequests(AskToEnd);
    std::string path;
    const std::string remote = RemoteLines(path);
    if (!OpenRemote()) {
        PrintLine(
            "glowbrand-doctor: no Wii Remote could be opened; run glowbrand-doctor "
            "without arguments to see why.\n");
        return 1;
    }
    std::ofstream out(file, std::ios::binary);
    if (!out) {
        CloseRemote();
        PrintLine(std::string("glowbrand-doctor: cannot write ") + file + "\n");
        return 1;
    }
    out << "# recorded by glowbrand-doctor " << GLOWBRAND_VERSION << ", " << Today() << "\n"
        << remote
        << "# T (ms since the mode was set) and the report's bytes, as the remote sent them\n";
    // T = 0 is the mode sent, as the program sends it at once after its open
    // and the scripted remote counts from there; the file is ready before.
    // The mode is set before the reader starts, which decodes against it: a
    // report that comes meanwhile waits in the system's queue.
    const auto origin = ReportPump::Clock::now();
    SetReportMode(kReportModeFlags, kReportModeCoreAccel);
    ReportPump pump(origin);
    PrintLine("Recording for " + std::to_string(seconds) + " s (Ctrl+C ends it early) ...\n");
    ScriptLines lines;
    size_t cursor = 0;
    int64_t recorded = 0;
    const auto until = origin + std::chrono::seconds(seconds);
    while (!endAsked && ReportPump::Clock::now() < until) {
        // As often as the program's own loop reads: a remote silenced by a
        // status report gets its mode back as soon as the program would.
        std::this_thread::sleep_for(std::chrono::milliseconds(kHidReadSliceMs));
        AnswerRemote();
        for (const Received& report : pump.Since(cursor)) {
            out << lines.Line(report.ms, report.bytes);
            ++recorded;
        }
    }
    pump.Stop();
    for (const Received& report : pump.Since(cursor)) {
        out << lines.Line(report.ms, report.bytes);
        ++recorded;
    }
    out.flush();
    SetRumble(0);
    if (!HidDriverOf(path).empty()) {
        SetReportMode(kReportModeFlags, kReportButtons);
    }
    CloseRemote();
    PrintLine(std::to_string(recorded) + " reports recorded in " + file + "\n");
    return out ? 0 : 1;
}
