// The checks of the remote's side of the chain, in the order they run: the
// Bluetooth adapter, the remotes present, opening one, its reports, its
// battery; and putting it back as the doctor found it.
#pragma once

#include <string>
#include <vector>

#include "doctor/check.h"
#include "doctor/report_pump.h"

struct FoundRemote {
    std::string path;
    int32_t productId = 0;
    bool bluetooth = false;
    std::string driver;  // the kernel's driver bound to it; empty for none or unknown
};

Check CheckBluetooth();

// Fails when no remote is present; fills found.
Check CheckRemotes(std::vector<FoundRemote>& found);

// Opens the remote through the program's own link; fails when it cannot.
Check CheckAccess();

// What the reports check saw, for the checks after it.
struct ReportsSeen {
    int32_t count = 0;  // data reports in the read
    uint8_t foundLeds = 0;
    bool ledsKnown = false;
    int32_t batteryLevel = -1;  // of the first status report; -1 for none
};

// Counts the reports of a second in mode 0x31, which the caller has set.
// Asks for a status report first, so that the LEDs are known as found.
// Fails when nothing comes.
Check CheckReports(ReportPump& pump, ReportsSeen& seen);

// The buttons held and the motion energy, as the blade reckons it, redrawn
// on one line for a few seconds: for a terminal.
void ShowLive(ReportPump& pump);

// The battery level of the status report, against the kernel's reading of
// the remote at kernelPath where it keeps one.
Check CheckBattery(ReportPump& pump, const ReportsSeen& seen, const std::string& kernelPath);

// Rumble off, the LEDs as found and, where the kernel's driver is bound,
// its mode 0x30 back.
void LeaveRemoteAsFound(const ReportsSeen& seen, bool driverBound);
