#include "fake_bluetooth.h"

FakeBluetooth fakeBluetooth;

namespace {

BluetoothDevice* Find(const std::string& id) {
    for (BluetoothDevice& device : fakeBluetooth.known) {
        if (device.id == id) {
            return &device;
        }
    }
    return nullptr;
}

BluetoothResult Answer(BluetoothResult result, std::string& why) {
    if (result != BluetoothResult::Done) {
        why = fakeBluetooth.why;
    }
    return result;
}

}  // namespace

BluetoothDevice FakeRemote(const std::string& address, bool plus) {
    BluetoothDevice remote;
    remote.id = "/dev_" + address;
    remote.address = address;
    remote.name = plus ? "Nintendo RVL-CNT-01-TR" : "Nintendo RVL-CNT-01";
    remote.bondKnown = true;
    return remote;
}

BluetoothResult OpenBluetooth(std::string& adapter, std::string& why) {
    adapter = "hci0";
    return Answer(fakeBluetooth.open, why);
}

void CloseBluetooth() {}

BluetoothResult PowerBluetooth(std::string& why) {
    return Answer(fakeBluetooth.power, why);
}

BluetoothResult StartBluetoothDiscovery(std::string&) {
    fakeBluetooth.discovering = true;
    return BluetoothResult::Done;
}

void StopBluetoothDiscovery() {
    fakeBluetooth.discovering = false;
}

std::vector<BluetoothDevice> BluetoothDevices() {
    if (fakeBluetooth.discovering && fakeBluetooth.discoveredMs >= fakeBluetooth.showAfterMs) {
        for (BluetoothDevice device : fakeBluetooth.showing) {
            device.seen = true;
            if (BluetoothDevice* known = Find(device.id); known != nullptr) {
                known->seen = true;
            } else {
                fakeBluetooth.known.push_back(device);
            }
        }
        fakeBluetooth.showing.clear();
    }
    return fakeBluetooth.known;
}

BluetoothResult PairBluetoothDevice(const std::string& id, int32_t, std::string& why) {
    fakeBluetooth.calls.push_back("pair " + id);
    if (fakeBluetooth.pair == BluetoothResult::Done) {
        Find(id)->paired = true;
        Find(id)->bonded = true;
    }
    return Answer(fakeBluetooth.pair, why);
}

BluetoothResult ConnectBluetoothDevice(const std::string& id, int32_t, std::string& why) {
    fakeBluetooth.calls.push_back("connect " + id);
    if (fakeBluetooth.connect == BluetoothResult::Done) {
        Find(id)->connected = true;
    }
    return Answer(fakeBluetooth.connect, why);
}

BluetoothResult TrustBluetoothDevice(const std::string& id, std::string&) {
    fakeBluetooth.calls.push_back("trust " + id);
    Find(id)->trusted = true;
    return BluetoothResult::Done;
}

void WaitBluetooth(int32_t ms) {
    if (fakeBluetooth.discovering) {
        fakeBluetooth.discoveredMs += ms;
    }
}
