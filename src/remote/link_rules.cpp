#include "remote/link_rules.h"

#include "config.h"
#include "hid/remote_protocol.h"

namespace {

uint8_t RumbleBit(const LinkWanted& wanted) {
    return wanted.rumble ? kRumbleBit : 0;
}

// The whole state: the mode and LEDs where set, and the rumble.
std::vector<LinkReport> WholeState(const LinkWanted& wanted) {
    std::vector<LinkReport> reports;
    if (wanted.modeSet) {
        reports.push_back(ModeReport(wanted));
    }
    if (wanted.ledsSet) {
        reports.push_back(LedsReport(wanted));
    }
    reports.push_back(RumbleReport(wanted.rumble));
    return reports;
}

}  // namespace

LinkReport ModeReport(const LinkWanted& wanted) {
    return {kReportMode, static_cast<uint8_t>(wanted.modeFlags | RumbleBit(wanted)), wanted.mode};
}

LinkReport LedsReport(const LinkWanted& wanted) {
    return {kReportLeds, static_cast<uint8_t>(wanted.leds | RumbleBit(wanted))};
}

LinkReport RumbleReport(bool on) {
    return {kReportRumble, on ? kRumbleBit : uint8_t{0}};
}

LinkReport StatusRequestReport(const LinkWanted& wanted) {
    return {kReportStatusRequest, RumbleBit(wanted)};
}

std::vector<LinkReport> ReportsDue(const LinkWanted& wanted, const LinkObserved& observed) {
    if (observed.returned) {
        LinkWanted stopped = wanted;
        stopped.rumble = false;
        return WholeState(stopped);
    }
    // The kernel's driver changes the mode now and then, and a remote still
    // sending reports queued before the change must not draw one write each.
    const bool modeDue =
        wanted.modeSet && (observed.statusReport ||
                           (observed.otherMode && observed.msSinceModeSent >= kModeResendMinMs));
    // Soon after a return the kernel's driver sets the remote up its own way
    // (its mode and LEDs) after asking for a status report.
    const bool returnSetup =
        observed.msSinceReturn >= 0 && observed.msSinceReturn <= kReturnSetupMs;
    std::vector<LinkReport> reports;
    if (modeDue && returnSetup) {
        reports = WholeState(wanted);
    } else if (modeDue) {
        reports.push_back(ModeReport(wanted));
    }
    if (observed.rumbleStopped && wanted.rumble &&
        (reports.empty() || reports.back() != RumbleReport(true))) {
        reports.push_back(RumbleReport(true));
    }
    return reports;
}
