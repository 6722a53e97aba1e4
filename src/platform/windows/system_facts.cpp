// The doctor's facts on Windows: the Bluetooth radio. Windows keeps no
// kernel driver of the remote's own nor a battery reading of it, and has no
// udev.
#include "platform/system_facts.h"

#include <windows.h>
// clang-format off: bluetoothapis needs windows.h first
#include <bluetoothapis.h>
// clang-format on

AdapterState BluetoothAdapter(std::string& name) {
    BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    HANDLE radio = nullptr;
    HBLUETOOTH_RADIO_FIND find = BluetoothFindFirstRadio(&params, &radio);
    if (find == nullptr) {
        return AdapterState::Absent;
    }
    BLUETOOTH_RADIO_INFO info{};
    info.dwSize = sizeof info;
    if (BluetoothGetRadioInfo(radio, &info) == ERROR_SUCCESS) {
        char narrow[BLUETOOTH_MAX_NAME_SIZE * 4] = {};
        WideCharToMultiByte(CP_UTF8, 0, info.szName, -1, narrow, sizeof narrow, nullptr, nullptr);
        name = narrow;
    }
    CloseHandle(radio);
    BluetoothFindRadioClose(find);
    return AdapterState::Present;
}

std::string HidDriverOf(const std::string&) {
    return {};
}

int32_t KernelBatteryPercent(const std::string&) {
    return -1;
}

bool UdevRuleInstalled() {
    return false;
}

SystemFamily ThisSystem() {
    return SystemFamily::Windows;
}

// Elevated: started with "Run as administrator".
bool RunningAsRoot() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

bool BluetoothInputSettings(std::string&) {
    return false;
}
