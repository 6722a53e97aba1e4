// The doctor's facts on Linux, from sysfs: /sys/class/bluetooth and its
// rfkill switches, and the HID device behind a hidraw node.
#include "platform/system_facts.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "config.h"

namespace fs = std::filesystem;

namespace {

// The first number in a sysfs attribute; fallback when it holds none.
int32_t ReadNumber(const fs::path& file, int32_t fallback) {
    std::ifstream in(file);
    int32_t value = fallback;
    return in >> value ? value : fallback;
}

// An rfkill switch (a folder with `soft` and `hard`) that is on.
bool Blocks(const fs::path& rfkill) {
    return ReadNumber(rfkill / "soft", 0) != 0 || ReadNumber(rfkill / "hard", 0) != 0;
}

// The HID device a hidraw node belongs to: /dev/hidraw3's is
// /sys/class/hidraw/hidraw3/device.
fs::path HidDeviceOf(const std::string& path) {
    return fs::path("/sys/class/hidraw") / fs::path(path).filename() / "device";
}

}  // namespace

AdapterState BluetoothAdapter(std::string& name) {
    std::error_code error;
    for (const fs::directory_entry& adapter :
         fs::directory_iterator("/sys/class/bluetooth", error)) {
        const std::string found = adapter.path().filename().string();
        // hci0:256 and the like are its connections, not adapters.
        if (found.rfind("hci", 0) != 0 || found.find(':') != std::string::npos) {
            continue;
        }
        name = found;
        for (const fs::directory_entry& entry : fs::directory_iterator(adapter.path(), error)) {
            if (entry.path().filename().string().rfind("rfkill", 0) == 0 && Blocks(entry.path())) {
                return AdapterState::Blocked;
            }
        }
        return AdapterState::Present;
    }
    return AdapterState::Absent;
}

std::string HidDriverOf(const std::string& path) {
    std::error_code error;
    const fs::path driver = fs::read_symlink(HidDeviceOf(path) / "driver", error);
    return error ? std::string() : driver.filename().string();
}

int32_t KernelBatteryPercent(const std::string& path) {
    std::error_code error;
    for (const fs::directory_entry& supply :
         fs::directory_iterator(HidDeviceOf(path) / "power_supply", error)) {
        const int32_t capacity = ReadNumber(supply.path() / "capacity", -1);
        if (capacity >= 0) {
            return capacity;
        }
    }
    return -1;
}

bool UdevRuleInstalled() {
    std::error_code error;
    for (const char* folder :
         {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        if (fs::exists(fs::path(folder) / kUdevRuleFile, error)) {
            return true;
        }
    }
    return false;
}

bool BluetoothInputSettings(std::string& text) {
    std::ifstream in("/etc/bluetooth/input.conf");
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

SystemFamily ThisSystem() {
    return SystemFamily::Linux;
}

bool RunningAsRoot() {
    return geteuid() == 0;
}
