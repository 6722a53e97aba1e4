// Windows pairs Bluetooth devices in its own Settings; the doctor tells the
// user how instead of doing it.
#include "platform/bluetooth.h"

BluetoothResult OpenBluetooth(std::string&, std::string&) {
    return BluetoothResult::Unsupported;
}

void CloseBluetooth() {}

BluetoothResult PowerBluetooth(std::string&) {
    return BluetoothResult::Unsupported;
}

BluetoothResult StartBluetoothDiscovery(std::string&) {
    return BluetoothResult::Unsupported;
}

void StopBluetoothDiscovery() {}

std::vector<BluetoothDevice> BluetoothDevices() {
    return {};
}

BluetoothResult PairBluetoothDevice(const std::string&, int32_t, std::string&) {
    return BluetoothResult::Unsupported;
}

BluetoothResult ConnectBluetoothDevice(const std::string&, int32_t, std::string&) {
    return BluetoothResult::Unsupported;
}

BluetoothResult TrustBluetoothDevice(const std::string&, std::string&) {
    return BluetoothResult::Unsupported;
}

void WaitBluetooth(int32_t) {}
