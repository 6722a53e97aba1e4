// The Bluetooth service in memory: an adapter, the devices it knows, the
// ones that show once a discovery has run a while, and the answers to
// pairing and connecting. Time passes only in WaitBluetooth.
#pragma once

#include <string>
#include <vector>

#include "platform/bluetooth.h"

struct FakeBluetooth {
    BluetoothResult open = BluetoothResult::Done;
    BluetoothResult power = BluetoothResult::Done;
    std::vector<BluetoothDevice> known;    // before any discovery
    std::vector<BluetoothDevice> showing;  // found once the discovery has run showAfterMs
    int32_t showAfterMs = 1000;
    BluetoothResult pair = BluetoothResult::Done;
    BluetoothResult connect = BluetoothResult::Done;
    std::string why;  // the reason a refusal gives

    std::vector<std::string> calls;  // "pair <id>", "trust <id>", "connect <id>"
    bool discovering = false;
    int32_t discoveredMs = 0;  // how long the discovery has run
};

extern FakeBluetooth fakeBluetooth;

// The original remote, or the Plus, at `address`: the device as the
// service names it.
BluetoothDevice FakeRemote(const std::string& address, bool plus = false);
