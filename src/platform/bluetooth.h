// The system's Bluetooth service as the doctor needs it to pair a remote and
// to say how the service sees one: its first adapter, the devices it knows,
// and pairing, trusting and connecting one. One session at a time. Where
// the system has no such service to talk to (Windows pairs in Settings)
// every call answers Unsupported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class BluetoothResult : uint8_t {
    Done,
    Unsupported,  // not on this system
    NoService,    // the Bluetooth service does not answer
    NoAdapter,    // it has no adapter
    Blocked,      // the adapter is switched off by rfkill
    Refused,      // the service or the device said no; `why` says what
    TimedOut,
};

// A device the adapter knows: found by the current discovery or kept from
// before.
struct BluetoothDevice {
    std::string id;       // the service's handle for it
    std::string address;  // 00:1F:32:AA:BB:CC
    std::string name;     // empty until the device has told it
    bool seen = false;    // found by the discovery now under way
    bool paired = false;
    bool bonded = false;     // its keys are stored: it may connect again later
    bool bondKnown = false;  // older services do not say whether a device is bonded
    bool trusted = false;
    bool connected = false;
};

// Opens a session with the service and finds its first adapter; `adapter`
// gets its name (hci0). Nothing else works until this has answered Done.
BluetoothResult OpenBluetooth(std::string& adapter, std::string& why);
void CloseBluetooth();

// Switches the adapter on (a no-op when it is on); Blocked when rfkill holds
// it off.
BluetoothResult PowerBluetooth(std::string& why);

// Starts and stops looking for devices that can be found.
BluetoothResult StartBluetoothDiscovery(std::string& why);
void StopBluetoothDiscovery();

// The devices the adapter knows, as they are now.
std::vector<BluetoothDevice> BluetoothDevices();

// Each waits for the answer, at most `limitMs`, serving the service's
// questions meanwhile (a PIN the service cannot supply itself is refused).
BluetoothResult PairBluetoothDevice(const std::string& id, int32_t limitMs, std::string& why);
BluetoothResult ConnectBluetoothDevice(const std::string& id, int32_t limitMs, std::string& why);
BluetoothResult TrustBluetoothDevice(const std::string& id, std::string& why);

// Lets `ms` pass while the session keeps answering the service.
void WaitBluetooth(int32_t ms);
