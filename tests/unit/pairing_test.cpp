// glowbrand-doctor --pair on a Bluetooth service, HID library and system in
// memory: which remote it pairs, what it leaves alone, and the one last line
// each way of failing ends on.
#include "doctor/pairing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "doctor/bluetooth_view.h"
#include "doctor/check.h"
#include "fake_bluetooth.h"
#include "fake_hid.h"
#include "fake_system_facts.h"
#include "hid/remote_protocol.h"

// The console is the test's: everything goes through doctorPrint.
void PrintText(const char*) {}

namespace {

std::string printed;

void Catch(const char* text) {
    printed += text;
}

const std::string kA = "00:1F:32:AA:BB:01";
const std::string kB = "00:1F:32:AA:BB:02";

TinyHidDevice Node(int32_t product) {
    TinyHidDevice node{};
    std::snprintf(node.path, sizeof node.path, "/dev/hidraw3");
    node.vendorId = kRemoteVendorId;
    node.productId = product;
    node.bus = TINY_HID_BUS_BLUETOOTH;
    return node;
}

BluetoothDevice Known(const std::string& address, bool paired, bool bonded, bool connected) {
    BluetoothDevice remote = FakeRemote(address);
    remote.paired = paired;
    remote.bonded = bonded;
    remote.trusted = paired;
    remote.connected = connected;
    return remote;
}

struct PairCase {
    const char* name;
    std::function<void()> world;  // on top of: an original remote's node that opens
    int32_t status;
    std::string last;                // how the last line begins
    std::vector<std::string> calls;  // to the service, in order
    std::string said = "";           // another line it prints
};

const std::vector<PairCase>& Cases() {
    const std::string a = "/dev_" + kA;
    const std::string b = "/dev_" + kB;
    static const std::vector<PairCase> cases = {
        {"a fresh remote is paired, trusted and connected",
         [] { fakeBluetooth.showing = {FakeRemote(kA)}; },
         0,
         "ok      Pair: Nintendo RVL-CNT-01 " + kA + " is connected and /dev/hidraw3 opens",
         {"pair " + a, "trust " + a, "connect " + a}},
        {"a Plus's node is looked for by the Plus's product",
         [] {
             fakeBluetooth.showing = {FakeRemote(kA, true)};
             fakeHidListed = {Node(kRemotePlusProductId)};
             fakeHidProduct = kRemotePlusProductId;
         },
         0,
         "ok      Pair: Nintendo RVL-CNT-01-TR " + kA,
         {"pair " + a, "trust " + a, "connect " + a}},
        {"of two that show the first is paired and the other named as left alone",
         [] {
             fakeBluetooth.showing = {FakeRemote(kA), FakeRemote(kB, true)};
         },
         0,
         "ok      Pair",
         {"pair " + a, "trust " + a, "connect " + a},
         "Also found Nintendo RVL-CNT-01-TR " + kB + ": left alone"},
        {"one paired before is connected, not paired again",
         [] {
             fakeBluetooth.known = {Known(kA, true, true, false)};
             fakeBluetooth.showing = {fakeBluetooth.known.front()};
         },
         0,
         "ok      Pair",
         {"connect " + a},
         "Paired before: not paired again."},
        {"one connected already needs no looking",
         [] {
             fakeBluetooth.known = {Known(kA, true, true, true)};
             fakeBluetooth.connect = BluetoothResult::Refused;
             fakeBluetooth.why = "Already Connected";
         },
         0,
         "ok      Pair",
         {"connect " + a},
         "is connected already."},
        {"a known remote that does not show is not taken for one",
         [] {
             fakeBluetooth.known = {Known(kB, false, false, false)};
             fakeBluetooth.showing = {};
         },
         1,
         "failed  Pair: no remote showed in 30 s",
         {}},
        {"a remote that shows after the look is too late",
         [] { fakeBluetooth.showAfterMs = 31'000; },
         1,
         "failed  Pair: no remote showed",
         {}},
        {"blocked as found",
         [] { fakeBluetooth.open = BluetoothResult::Blocked; },
         1,
         "failed  Pair: the Bluetooth adapter is blocked (rfkill)",
         {}},
        {"blocked as switched on",
         [] { fakeBluetooth.power = BluetoothResult::Blocked; },
         1,
         "failed  Pair: the Bluetooth adapter is blocked (rfkill)",
         {}},
        {"pairing refused",
         [] {
             fakeBluetooth.pair = BluetoothResult::Refused;
             fakeBluetooth.why = "Authentication Failed";
         },
         1,
         "failed  Pair: pairing refused (Authentication Failed)",
         {"pair " + a}},
        {"an unbonded remote turned away under BlueZ's default",
         [] {
             fakeBluetooth.known = {Known(kA, true, false, false)};
             fakeBluetooth.showing = {fakeBluetooth.known.front()};
             fakeBluetooth.connect = BluetoothResult::Refused;
             fakeBluetooth.why = "Input/output error";
         },
         1,
         "failed  Pair: Nintendo RVL-CNT-01 " + kA +
             " has no bond, and ClassicBondedOnly=true turns it away",
         {"connect " + a}},
        {"a refused connection with bonded-only off is only that",
         [] {
             fakeBluetooth.known = {Known(kA, true, false, false)};
             fakeBluetooth.showing = {fakeBluetooth.known.front()};
             fakeBluetooth.connect = BluetoothResult::Refused;
             fakeBluetooth.why = "Input/output error";
             fakeInputSettings = "[General]\nClassicBondedOnly=false\n";
         },
         1,
         "failed  Pair: it would not connect (Input/output error)",
         {"connect " + a}},
        {"connected without a node",
         [] { fakeHidListed.clear(); },
         1,
         "failed  Pair: connected, but no HID device appeared in 10 s",
         {"pair " + a, "trust " + a, "connect " + a}},
        {"a node udev gives the user a moment after the kernel made it opens",
         [] {
             fakeHidOpensFirst = {TINY_HID_DENIED, TINY_HID_DENIED};
         },
         0,
         "ok      Pair",
         {"pair " + a, "trust " + a, "connect " + a}},
        {"a node this user may not open",
         [] { fakeHidOpenResult = TINY_HID_DENIED; },
         1,
         "failed  Pair: this user may not open /dev/hidraw3 (no udev rule)",
         {"pair " + a, "trust " + a, "connect " + a},
         "sudo cp udev/70-glowbrand.rules"},
    };
    return cases;
}

TEST(Pairing, EachWayEndsOnItsOwnLineWithItsStatus) {
    doctorPrint = Catch;
    for (const PairCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        fakeBluetooth = FakeBluetooth{};
        fakeBluetooth.showing = {FakeRemote(kA)};
        ResetFakeHid();
        fakeHidListed = {Node(kRemoteProductId)};
        fakeHidOpenResult = 3;
        fakeInputSettings = "";
        fakeUdevRuleInstalled = false;
        printed.clear();
        c.world();
        EXPECT_EQ(PairRemote(), c.status) << printed;
        const size_t lastLine = printed.find("\nok      Pair") != std::string::npos
                                    ? printed.find("\nok      Pair") + 1
                                    : printed.find("\nfailed  Pair") + 1;
        EXPECT_EQ(printed.substr(lastLine, c.last.size()), c.last) << printed;
        EXPECT_EQ(fakeBluetooth.calls, c.calls) << printed;
        EXPECT_NE(printed.find(c.said), std::string::npos) << printed;
        EXPECT_FALSE(fakeBluetooth.discovering) << "the discovery was left running";
    }
}

TEST(Pairing, ClassicBondedOnlyIsReadAsBlueZReadsIt) {
    const struct {
        const char* settings;
        bool bondedOnly;
    } cases[] = {
        {"", true},  // BlueZ's default
        {"[General]\n#ClassicBondedOnly=false\n", true},
        {"[General]\nClassicBondedOnly=false\n", false},
        {"[General]\n  ClassicBondedOnly = false  \n", false},
        {"[General]\nClassicBondedOnly=true\n", true},
        {"[General]\nUserspaceHID=true\n[Other]\nClassicBondedOnly=false\n", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassicBondedOnly(c.settings), c.bondedOnly) << c.settings;
    }
}

}  // namespace
