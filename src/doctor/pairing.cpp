#include "doctor/pairing.h"

#include <string>
#include <vector>

#include "config.h"
#include "doctor/advice.h"
#include "doctor/bluetooth_view.h"
#include "doctor/check.h"
#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"
#include "platform/bluetooth.h"
#include "platform/system_facts.h"

namespace {

void Step(const std::string& text) {
    PrintLine(text + "\n");
}

// The last line: what came of it, and what to do under it.
int32_t Outcome(Verdict verdict, const std::string& text, const Advice& advice = {}) {
    CloseBluetooth();
    PrintCheck({verdict, "Pair", text, advice});
    return verdict == Verdict::Ok ? 0 : 1;
}

int32_t Failed(const std::string& text, const Advice& advice = {}) {
    return Outcome(Verdict::Failed, text, advice);
}

std::string Named(const BluetoothDevice& remote) {
    return remote.name + " " + remote.address;
}

// The remote as the service sees it now; `found` false when it is gone.
BluetoothDevice Refreshed(const BluetoothDevice& remote, bool& found) {
    for (const BluetoothDevice& device : BluetoothDevices()) {
        if (device.id == remote.id) {
            found = true;
            return device;
        }
    }
    found = false;
    return remote;
}

const Advice kBlockedSteps = {
    "Unblock it: rfkill unblock bluetooth (and check the machine's wireless switch),",
    "then run glowbrand-doctor --pair again."};

// Opens the service and switches the adapter on; 0 when it is on, the exit
// status otherwise.
int32_t AdapterOn() {
    std::string adapter;
    std::string why;
    switch (OpenBluetooth(adapter, why)) {
        case BluetoothResult::Done:
            break;
        case BluetoothResult::Unsupported:
            PrintLine("glowbrand-doctor --pair is for Linux. Here:\n");
            for (const std::string& line : PairingSteps()) {
                PrintLine("  " + line + "\n");
            }
            return 1;
        case BluetoothResult::NoAdapter:
            return Failed("no Bluetooth adapter",
                          {"Plug one in (a USB dongle will do), or check that its driver loaded:",
                           "sudo dmesg | grep -i bluetooth"});
        case BluetoothResult::Blocked:
            return Failed("the Bluetooth adapter is blocked (rfkill)", kBlockedSteps);
        default:
            return Failed("the Bluetooth service does not answer (" + why + ")",
                          {"Start it: sudo systemctl start bluetooth (Debian's package bluez)."});
    }
    Step("Adapter " + adapter + " found.");
    switch (PowerBluetooth(why)) {
        case BluetoothResult::Done:
            Step("Adapter " + adapter + " on.");
            return 0;
        case BluetoothResult::Blocked:
            return Failed("the Bluetooth adapter is blocked (rfkill)", kBlockedSteps);
        default:
            return Failed("the adapter " + adapter + " would not switch on (" + why + ")",
                          {"Switch it on in the desktop's Bluetooth settings, or: bluetoothctl "
                           "power on"});
    }
}

// Looks until a remote shows (or connects by itself); false when none did
// in time. Names any other that showed as left alone.
bool FindRemote(BluetoothDevice& picked) {
    Step("Press the red SYNC button under the battery cover (the original's or the Plus's),");
    Step("or 1 and 2 together (the original only). Looking for " +
         std::to_string(kPairLookMs / 1000) + " s...");
    bool found = false;
    std::vector<BluetoothDevice> showing;
    for (int32_t waited = 0; waited <= kPairLookMs && !found; waited += kPairPollMs) {
        showing.clear();
        for (const BluetoothDevice& remote : KnownRemotes(BluetoothDevices())) {
            if (remote.seen || remote.connected) {
                showing.push_back(remote);
            }
        }
        found = !showing.empty();
        if (!found) {
            WaitBluetooth(kPairPollMs);
        }
    }
    StopBluetoothDiscovery();
    if (!found) {
        return false;
    }
    picked = showing.front();
    Step("Found " + Named(picked) + ".");
    for (size_t i = 1; i < showing.size(); ++i) {
        Step("Also found " + Named(showing[i]) + ": left alone (run --pair again for it).");
    }
    return true;
}

// Pairs (unless paired before), trusts and connects; 0 when connected, the
// exit status otherwise.
int32_t PairTrustConnect(BluetoothDevice& remote) {
    std::string why;
    if (remote.paired) {
        Step("Paired before: not paired again.");
    } else {
        Step("Pairing " + Named(remote) + "...");
        BluetoothResult paired = PairBluetoothDevice(remote.id, kPairAnswerMs, why);
        // Paired by itself meanwhile: as good.
        if (paired == BluetoothResult::Refused && why.find("Already") != std::string::npos) {
            paired = BluetoothResult::Done;
        }
        switch (paired) {
            case BluetoothResult::Done:
                Step("Paired.");
                break;
            case BluetoothResult::TimedOut:
                return Failed("pairing got no answer (" + why + ")",
                              {"The remote stopped listening: press SYNC and run",
                               "glowbrand-doctor --pair again at once."});
            default:
                return Failed(
                    "pairing refused (" + why + ")",
                    {"The remote wanted another PIN than BlueZ gives a Wii Remote. Press SYNC",
                     "(1 and 2 do not pair a Plus) and run glowbrand-doctor --pair again. A",
                     "PIN prompt elsewhere has no right answer: cancel it."});
        }
    }
    if (!remote.trusted) {
        if (TrustBluetoothDevice(remote.id, why) == BluetoothResult::Done) {
            Step("Trusted: it may connect by itself when 1 and 2 are pressed.");
        } else {
            Step("Could not trust it (" + why + "): press 1 and 2 and run --pair again later.");
        }
    }
    // Connected may be the link alone, after pairing: the remote's HID
    // channels come with Connect, which says so when they are up already.
    Step("Connecting...");
    const BluetoothResult connected = ConnectBluetoothDevice(remote.id, kPairAnswerMs, why);
    bool present = false;
    remote = Refreshed(remote, present);
    if (connected != BluetoothResult::Done && why.find("Already") == std::string::npos) {
        std::string settings;
        BluetoothInputSettings(settings);
        if (ClassicBondedOnly(settings) && Unbonded(remote)) {
            return Failed(Named(remote) + " has no bond, and ClassicBondedOnly=true turns it away",
                          BondedOnlySteps(remote));
        }
        return Failed("it would not connect (" + why + ")",
                      {"Press 1 and 2 on the remote and run glowbrand-doctor --pair again."});
    }
    Step("Connected: " + DescribeKnownRemote(remote) + ".");
    return 0;
}

// The remote's node on the Bluetooth bus, once the kernel has made it.
bool FindNode(int32_t product, std::string& node) {
    TinyHidDevice devices[kDoctorMaxRemotes];
    const int32_t present = ListHidDevices(kRemoteVendorId, product, devices, kDoctorMaxRemotes);
    for (int32_t i = 0; i < present && i < kDoctorMaxRemotes; ++i) {
        if (devices[i].bus == TINY_HID_BUS_BLUETOOTH) {
            node = devices[i].path;
            return true;
        }
    }
    return false;
}

// Waits for the node and opens it: kPairNodeMs for the kernel to make it,
// then kPairAccessMs for udev to give it to the user (the kernel makes it
// root's alone first). Returns the last open's answer: a handle, already
// closed again, or why it would not open; TINY_HID_ABSENT with no node.
int32_t OpenNode(int32_t product, std::string& node) {
    int32_t waited = 0;
    while (!FindNode(product, node) && waited < kPairNodeMs) {
        WaitBluetooth(kPairPollMs);
        waited += kPairPollMs;
    }
    if (node.empty()) {
        return TINY_HID_ABSENT;
    }
    Step("Its node: " + node + ".");
    int32_t handle = TryOpenHidHandle(kRemoteVendorId, product);
    for (waited = 0; handle == TINY_HID_DENIED && waited < kPairAccessMs; waited += kPairPollMs) {
        WaitBluetooth(kPairPollMs);
        handle = TryOpenHidHandle(kRemoteVendorId, product);
    }
    if (handle >= 0) {
        CloseHidHandle(handle);
    }
    return handle;
}

}  // namespace

int32_t PairRemote() {
    if (const int32_t status = AdapterOn(); status != 0) {
        return status;
    }
    BluetoothDevice remote;
    bool connectedBefore = false;
    for (const BluetoothDevice& known : KnownRemotes(BluetoothDevices())) {
        if (known.connected && !connectedBefore) {
            remote = known;
            connectedBefore = true;
            Step(Named(remote) + " is connected already.");
        }
    }
    if (!connectedBefore) {
        std::string why;
        if (StartBluetoothDiscovery(why) != BluetoothResult::Done) {
            return Failed("the adapter would not look for devices (" + why + ")",
                          {"Close other Bluetooth tools and run glowbrand-doctor --pair again."});
        }
        if (!FindRemote(remote)) {
            return Failed("no remote showed in " + std::to_string(kPairLookMs / 1000) + " s",
                          {"Press SYNC under the battery cover (its LEDs blink while it can be",
                           "found, about 20 s) just after starting glowbrand-doctor --pair; fresh",
                           "batteries; the remote close to the computer."});
        }
    }
    if (const int32_t status = PairTrustConnect(remote); status != 0) {
        return status;
    }
    const int32_t product = ProductOfRemoteName(remote.name);
    std::string node;
    const int32_t opened = OpenNode(product, node);
    if (node.empty()) {
        return Failed(
            "connected, but no HID device appeared in " + std::to_string(kPairNodeMs / 1000) + " s",
            {"The kernel's HID over Bluetooth may be missing: sudo modprobe hidp uhid; then",
             "switch the remote off and run glowbrand-doctor --pair again."});
    }
    if (opened >= 0) {
        return Outcome(Verdict::Ok, Named(remote) + " is connected and " + node + " opens",
                       {"Start glowbrand (and glowbrand-doctor to check the rest). Connected, the",
                        "remote stays on: hold its power button to switch it off, or",
                        "bluetoothctl disconnect " + remote.address + "."});
    }
    if (opened == TINY_HID_DENIED) {
        return Failed("this user may not open " + node + " (no udev rule)",
                      AccessSteps(UdevRuleInstalled()));
    }
    return Failed("the system would not open " + node, HeldSteps());
}
