#include "doctor/doctor.h"

#include <chrono>
#include <vector>

#include "doctor/check.h"
#include "doctor/remote_checks.h"
#include "doctor/report_pump.h"
#include "doctor/sound_checks.h"
#include "hid/remote_protocol.h"
#include "remote/remote_link.h"

namespace {

Check Skipped(const char* name, const char* why) {
    return {Verdict::Skipped, name, why};
}

// Access, Reports and Battery, each meaningful only once the one before it
// passed. True when the remote opened and reported.
bool CheckTheRemote(const std::vector<FoundRemote>& found, bool live) {
    const Check access = CheckAccess();
    PrintCheck(access);
    if (access.verdict == Verdict::Failed) {
        PrintCheck(Skipped("Reports", "the remote could not be opened"));
        PrintCheck(Skipped("Battery", "the remote could not be opened"));
        return false;
    }
    // The mode is set before the reader starts, which decodes against it.
    SetReportMode(kReportModeFlags, kReportModeCoreAccel);
    ReportPump pump(ReportPump::Clock::now());
    ReportsSeen seen;
    const Check reports = CheckReports(pump, seen);
    PrintCheck(reports);
    const bool reporting = reports.verdict != Verdict::Failed;
    if (reporting && live) {
        ShowLive(pump);
    }
    // The first remote listed is the one the link opens.
    const FoundRemote& opened = found.front();
    PrintCheck(reporting ? CheckBattery(pump, seen, opened.path)
                         : Skipped("Battery", "the remote sends nothing"));
    pump.Stop();
    // The kernel's own driver of the remote (not hid-generic) reads in mode 0x30.
    LeaveRemoteAsFound(seen, opened.driver == "wiimote");
    CloseRemote();
    return reporting;
}

}  // namespace

int32_t RunDoctor(bool live) {
    PrintCheck(CheckBluetooth());
    std::vector<FoundRemote> found;
    const Check remotes = CheckRemotes(found);
    PrintCheck(remotes);
    bool remoteWorks = false;
    if (remotes.verdict == Verdict::Failed) {
        for (const char* name : {"Access", "Reports", "Battery"}) {
            PrintCheck(Skipped(name, "no remote found"));
        }
    } else {
        remoteWorks = CheckTheRemote(found, live);
    }
    const Check sounds = CheckSounds();
    PrintCheck(sounds);
    PrintCheck(CheckSoundDevice());
    return remoteWorks && sounds.verdict != Verdict::Failed ? 0 : 1;
}
