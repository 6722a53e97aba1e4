// What the doctor asks of the system around the remote: the Bluetooth
// adapter, the kernel's view of a HID node, the udev rule, the user. Each
// answer is what the system says now; where a system has no such thing the
// answer says so rather than guessing.
#pragma once

#include <cstdint>
#include <string>

enum class AdapterState : uint8_t {
    Absent,   // no Bluetooth adapter or radio
    Blocked,  // one is there, switched off by rfkill (soft or hard)
    Present,  // one is there and may be used
};

// The first Bluetooth adapter's state, and its name (hci0) where the system
// names it.
AdapterState BluetoothAdapter(std::string& name);

// The kernel driver bound to the HID device behind `path` (a hidraw node):
// "wiimote", "hid-generic", ...; empty when none is bound or the system does
// not say (Windows).
std::string HidDriverOf(const std::string& path);

// The battery level the kernel's driver reads for the HID device behind
// `path`, in percent; -1 when it keeps none (no driver, or Windows).
int32_t KernelBatteryPercent(const std::string& path);

// True when the program's udev rule (kUdevRuleFile) is installed where udev
// reads rules. Always false where there is no udev.
bool UdevRuleInstalled();

// The text of the Bluetooth service's settings for input devices (BlueZ's
// input.conf), where it reads them; false where there are none.
bool BluetoothInputSettings(std::string& text);

// The system the build is for, for the advice that differs between them.
enum class SystemFamily : uint8_t { Linux, Windows };
SystemFamily ThisSystem();

// True when the process runs with the administrator's rights (root).
bool RunningAsRoot();
