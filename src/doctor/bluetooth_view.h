// The Bluetooth service's view of the remotes it knows, and its input
// setting that turns away a remote without a bond (BlueZ's
// ClassicBondedOnly): the lines the Bluetooth check and --pair share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "doctor/advice.h"
#include "platform/bluetooth.h"

// A Wii Remote by the name it gives over Bluetooth: the original's or the
// Plus's.
bool IsRemoteName(const std::string& name);

// The product identifier a remote of that name has on the HID bus.
int32_t ProductOfRemoteName(const std::string& name);

// Whether the settings text turns away devices without a bond: its
// ClassicBondedOnly under [General], or the service's default (true) where
// it sets none.
bool ClassicBondedOnly(const std::string& settings);

// The remote's line: its name, address and paired, bonded, trusted,
// connected or not.
std::string DescribeKnownRemote(const BluetoothDevice& remote);

// True when the service would take the remote's connection but for a bond it
// does not keep: one paired or trusted (on a service that does not say
// whether it is bonded, one not paired has none). A remote it merely saw in
// a discovery is none of its business yet.
bool Unbonded(const BluetoothDevice& remote);

// Why the remote gets no further than "Connected: no", the fix and its cost.
Advice BondedOnlySteps(const BluetoothDevice& remote);

// The Wii Remotes among the devices, by name.
std::vector<BluetoothDevice> KnownRemotes(const std::vector<BluetoothDevice>& devices);
