#include "doctor/remote_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "blade/blade.h"
#include "config.h"
#include "doctor/advice.h"
#include "doctor/bluetooth_view.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "platform/bluetooth.h"
#include "platform/system_facts.h"
#include "remote/remote_link.h"

namespace {

std::string Format(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

Check WithAdvice(Check check, const Advice& advice) {
    check.details.insert(check.details.end(), advice.begin(), advice.end());
    return check;
}

bool IsData(const Received& report) {
    return report.bytes[0] >= kFirstDataReport && report.bytes[0] <= kLastDataReport;
}

// The energy of a buttons-and-accelerometer report as the blade reckons it;
// -1 for a report without the accelerometer.
int32_t EnergyOf(const std::vector<uint8_t>& report) {
    if (report[0] != kReportButtonsAccel || report.size() < kButtonsAccelLength) {
        return -1;
    }
    return MotionEnergy(report[kAccelByte], report[kAccelByte + 1], report[kAccelByte + 2]);
}

// The buttons held in a data report, by name; the accelerometer's bits in
// the button bytes are masked off.
std::string ButtonsOf(const std::vector<uint8_t>& report) {
    std::string held;
    if (report.size() < kButtonsLength) {
        return held;
    }
    for (const ButtonBit& button : kButtonBits) {
        const uint8_t bits = report[static_cast<size_t>(button.byte)] & ~kButtonsAccelBits;
        if ((bits & button.mask) != 0) {
            held += held.empty() ? "" : " ";
            held += button.name;
        }
    }
    return held.empty() ? "none" : held;
}

const char* MotionName(int32_t energy) {
    switch (ClassifyMotion(energy)) {
        case MotionClass::Strike:
            return "strike";
        case MotionClass::Swing:
            return "swing";
        default:
            return "still";
    }
}

void Pause(int32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Asks for a status report and waits for one.
bool AskStatus(ReportPump& pump, Received& status) {
    size_t cursor = 0;
    pump.Since(cursor);
    return RequestStatus() > 0 && pump.WaitFor(kReportStatus, kDoctorStatusWaitMs, cursor, status);
}

}  // namespace

void ShowLive(ReportPump& pump) {
    PrintLine("  Swing and hit: swing from " + std::to_string(kSwingThreshold) + ", strike from " +
              std::to_string(kStrikeThreshold) + ".\n");
    size_t cursor = 0;
    pump.Since(cursor);
    std::vector<uint8_t> last;
    int32_t peak = 0;
    for (int32_t ms = 0; ms < kDoctorLiveMs; ms += kDoctorLiveRedrawMs) {
        AnswerRemote();
        for (const Received& report : pump.Since(cursor)) {
            if (IsData(report)) {
                last = report.bytes;
                peak = std::max(peak, EnergyOf(report.bytes));
            }
        }
        if (!last.empty()) {
            const int32_t energy = std::max(EnergyOf(last), 0);
            PrintLine(Format("\r  buttons %-24s energy %5d %-6s peak %5d  ",
                             ButtonsOf(last).c_str(), energy, MotionName(energy), peak));
        }
        Pause(kDoctorLiveRedrawMs);
    }
    PrintLine("\n");
}

namespace {

Check AdapterCheck() {
    std::string name;
    switch (BluetoothAdapter(name)) {
        case AdapterState::Present:
            return {Verdict::Ok, "Bluetooth", "adapter " + (name.empty() ? "present" : name)};
        case AdapterState::Blocked:
            return {Verdict::Warning,
                    "Bluetooth",
                    "adapter " + name + " is blocked (only a warning)",
                    {"Unblock it: rfkill unblock bluetooth (and check the machine's wireless "
                     "switch)."}};
        default:
            return {Verdict::Warning, "Bluetooth",
                    "no Bluetooth adapter found (only a warning: a remote may come another way)"};
    }
}

// The remotes the Bluetooth service knows, a line each; one it would turn
// away for want of a bond fails the check.
void AddServiceView(Check& check) {
    std::string adapter;
    std::string why;
    const BluetoothResult opened = OpenBluetooth(adapter, why);
    if (opened == BluetoothResult::NoService) {
        check.details.push_back("The Bluetooth service does not answer (" + why +
                                "): sudo systemctl start bluetooth");
    }
    if (opened != BluetoothResult::Done && opened != BluetoothResult::Blocked) {
        return;
    }
    const std::vector<BluetoothDevice> remotes = KnownRemotes(BluetoothDevices());
    CloseBluetooth();
    // Without the file the service keeps its default.
    std::string settings;
    BluetoothInputSettings(settings);
    const bool bondedOnly = ClassicBondedOnly(settings);
    for (const BluetoothDevice& remote : remotes) {
        // One a discovery merely saw is none of its business yet.
        if (!remote.paired && !remote.trusted && !remote.connected) {
            continue;
        }
        check.details.push_back(DescribeKnownRemote(remote));
        if (bondedOnly && Unbonded(remote) && !remote.connected) {
            check.verdict = Verdict::Failed;
            check.text = remote.name + " " + remote.address +
                         " has no bond, and ClassicBondedOnly=true turns it away";
            const Advice steps = BondedOnlySteps(remote);
            check.details.insert(check.details.end(), steps.begin(), steps.end());
        }
    }
}

}  // namespace

Check CheckBluetooth() {
    Check check = AdapterCheck();
    AddServiceView(check);
    return check;
}

Check CheckRemotes(std::vector<FoundRemote>& found) {
    Check check{Verdict::Ok, "Remote", ""};
    for (const int32_t product : {kRemoteProductId, kRemotePlusProductId}) {
        TinyHidDevice devices[kDoctorMaxRemotes];
        const int32_t present =
            std::min(ListHidDevices(kRemoteVendorId, product, devices, kDoctorMaxRemotes),
                     kDoctorMaxRemotes);
        for (int32_t i = 0; i < present; ++i) {
            FoundRemote remote{devices[i].path, devices[i].productId,
                               devices[i].bus == TINY_HID_BUS_BLUETOOTH,
                               HidDriverOf(devices[i].path)};
            std::string line =
                Format("%04x:%04x %s bus %s", kRemoteVendorId, product, remote.path.c_str(),
                       remote.bluetooth ? "bluetooth" : "other");
            if (ThisSystem() == SystemFamily::Linux) {
                line += " driver " + (remote.driver.empty() ? std::string("none") : remote.driver);
            }
            check.details.push_back(line);
            found.push_back(remote);
        }
    }
    if (found.empty()) {
        check.verdict = Verdict::Failed;
        check.text = "no Wii Remote found (vendor 057e, product 0306 or 0330).";
        return WithAdvice(check, PairingSteps());
    }
    check.text = Format("%d Wii Remote%s found", static_cast<int>(found.size()),
                        found.size() == 1 ? "" : "s");
    return check;
}

Check CheckAccess() {
    if (!OpenRemote()) {
        switch (RemoteOpenRefusal()) {
            case TINY_HID_DENIED: {
                const bool installed = UdevRuleInstalled();
                Check check{
                    Verdict::Failed, "Access",
                    std::string("this user may not open the remote") +
                        (ThisSystem() == SystemFamily::Linux
                             ? installed ? "; udev rule installed" : "; udev rule not installed"
                             : "")};
                return WithAdvice(check, ThisSystem() == SystemFamily::Linux
                                             ? AccessSteps(installed)
                                             : Advice{"Ask the machine's administrator."});
            }
            case TINY_HID_HELD:
                return WithAdvice(
                    {Verdict::Failed, "Access", "the remote is there but held by another program"},
                    HeldSteps());
            case TINY_HID_ABSENT:
                return WithAdvice(
                    {Verdict::Failed, "Access", "the remote went away before it could be opened"},
                    PairingSteps());
            default:
                return WithAdvice(
                    {Verdict::Failed, "Access", "the system would not open the remote"},
                    HeldSteps());
        }
    }
    // Windows' administrators open the remote as anyone does; only root on
    // Linux loses the desktop's sound.
    if (ThisSystem() == SystemFamily::Linux && RunningAsRoot()) {
        return WithAdvice({Verdict::Warning, "Access", "opened, but as root"}, RootWarning());
    }
    return {Verdict::Ok, "Access", "opened by this user"};
}

Check CheckReports(ReportPump& pump, ReportsSeen& seen) {
    Received status;
    if (AskStatus(pump, status) && status.bytes.size() > kStatusBatteryByte) {
        seen.ledsKnown = true;
        seen.foundLeds = status.bytes[kStatusFlagsByte] & kStatusLedsMask;
        seen.batteryLevel = status.bytes[kStatusBatteryByte];
    }
    size_t cursor = 0;
    pump.Since(cursor);
    const double from = pump.MsSinceOrigin();
    int32_t peak = 0;
    for (int32_t ms = 0; ms < kDoctorReadMs; ms += kHidReadSliceMs) {
        AnswerRemote();
        Pause(kHidReadSliceMs);
    }
    const double seconds = (pump.MsSinceOrigin() - from) / 1000.0;
    for (const Received& report : pump.Since(cursor)) {
        if (IsData(report)) {
            ++seen.count;
            peak = std::max(peak, EnergyOf(report.bytes));
        }
    }
    const int32_t rate = static_cast<int32_t>(seen.count / seconds + 0.5);
    if (seen.count == 0) {
        return WithAdvice({Verdict::Failed, "Reports", "0 reports/s: the remote sends nothing"},
                          SilentCauses());
    }
    Check check{Verdict::Ok, "Reports", Format("%d reports/s in mode 0x31", rate)};
    if (rate < kDoctorMinReportsPerSecond) {
        check.verdict = Verdict::Warning;
        check.text += Format(
            ", fewer than %d: the blade will lag (weak batteries, a busy radio, "
            "the remote far away)",
            kDoctorMinReportsPerSecond);
    }
    check.details.push_back(Format("peak energy %d (%s)", peak, MotionName(peak)));
    return check;
}

Check CheckBattery(ReportPump& pump, const ReportsSeen& seen, const std::string& kernelPath) {
    int32_t level = seen.batteryLevel;
    Received status;
    if (level < 0 && AskStatus(pump, status) && status.bytes.size() > kStatusBatteryByte) {
        level = status.bytes[kStatusBatteryByte];
    }
    if (level < 0) {
        return {Verdict::Failed,
                "Battery",
                "the remote did not answer a status request",
                {"It reports but does not answer: disconnect and reconnect it (press 1 and 2),",
                 "and run glowbrand-doctor again."}};
    }
    const int32_t percent = BatteryPercent(static_cast<uint8_t>(level));
    Check check{Verdict::Ok, "Battery", Format("%d %%", percent)};
    if (const int32_t kernel = KernelBatteryPercent(kernelPath); kernel >= 0) {
        check.text += Format(", kernel %d %%", kernel);
        if (std::abs(kernel - percent) > kDoctorBatteryTolerancePercent) {
            check.verdict = Verdict::Warning;
            check.details.push_back(
                "The kernel's reading and the remote's own disagree: the "
                "kernel's driver may be stale; reconnect the remote.");
        }
    }
    if (percent < kDoctorLowBatteryPercent) {
        check.verdict = Verdict::Warning;
        check.details.push_back(
            "Low: change the batteries soon; the remote drops out when they "
            "run flat.");
    }
    return check;
}

void LeaveRemoteAsFound(const ReportsSeen& seen, bool driverBound) {
    SetRumble(0);
    if (seen.ledsKnown) {
        SetLeds(seen.foundLeds);
    }
    if (driverBound) {
        SetReportMode(kReportModeFlags, kReportButtons);
    }
}
