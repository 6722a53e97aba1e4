// The system around the remote as a test sets it: a Linux machine with its
// Bluetooth input settings and udev rule as given.
#include "fake_system_facts.h"

std::string fakeInputSettings;
bool fakeUdevRuleInstalled = false;

AdapterState BluetoothAdapter(std::string& name) {
    name = "hci0";
    return AdapterState::Present;
}

std::string HidDriverOf(const std::string&) {
    return "wiimote";
}

int32_t KernelBatteryPercent(const std::string&) {
    return -1;
}

bool UdevRuleInstalled() {
    return fakeUdevRuleInstalled;
}

bool BluetoothInputSettings(std::string& text) {
    text = fakeInputSettings;
    return true;
}

SystemFamily ThisSystem() {
    return SystemFamily::Linux;
}

bool RunningAsRoot() {
    return false;
}
