#include "doctor/bluetooth_view.h"

#include <cctype>
#include <sstream>

#include "hid/remote_protocol.h"

namespace {

constexpr const char* kOriginalName = "Nintendo RVL-CNT-01";
constexpr const char* kPlusName = "Nintendo RVL-CNT-01-TR";

std::string Trimmed(const std::string& text) {
    const size_t from = text.find_first_not_of(" \t\r");
    const size_t to = text.find_last_not_of(" \t\r");
    return from == std::string::npos ? std::string() : text.substr(from, to - from + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

const char* Either(bool yes, const char* word, const char* notWord) {
    return yes ? word : notWord;
}

}  // namespace

bool IsRemoteName(const std::string& name) {
    return name == kOriginalName || name == kPlusName;
}

int32_t ProductOfRemoteName(const std::string& name) {
    return name == kPlusName ? kRemotePlusProductId : kRemoteProductId;
}

bool ClassicBondedOnly(const std::string& settings) {
    std::istringstream lines(settings);
    std::string line;
    std::string section;
    bool bondedOnly = true;
    while (std::getline(lines, line)) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            section = line;
            continue;
        }
        const size_t equals = line.find('=');
        if (section == "[General]" && equals != std::string::npos &&
            Trimmed(line.substr(0, equals)) == "ClassicBondedOnly") {
            // The service reads a boolean as GLib does: true or false.
            const std::string value = Lower(Trimmed(line.substr(equals + 1)));
            bondedOnly = value != "false";
        }
    }
    return bondedOnly;
}

std::string DescribeKnownRemote(const BluetoothDevice& remote) {
    std::string line = remote.name + " " + remote.address + ": ";
    line += Either(remote.paired, "paired, ", "not paired, ");
    line += remote.bondKnown ? Either(remote.bonded, "bonded, ", "not bonded, ")
                             : "bond not reported, ";
    line += Either(remote.trusted, "trusted, ", "not trusted, ");
    line += Either(remote.connected, "connected", "not connected");
    return line;
}

bool Unbonded(const BluetoothDevice& remote) {
    const bool kept = remote.paired || remote.trusted;
    return kept && (remote.bondKnown ? !remote.bonded : !remote.paired);
}

Advice BondedOnlySteps(const BluetoothDevice& remote) {
    return {"ClassicBondedOnly=true (/etc/bluetooth/input.conf; BlueZ's default) turns away",
            "a remote without a bond: \"Connected: no\" and its LEDs blink. Pair it again so",
            "that it bonds: glowbrand-doctor --pair, then press SYNC (or: bluetoothctl",
            "remove " + remote.address + " and the steps in the README). Only if it still",
            "will not bond: set ClassicBondedOnly=false there and sudo systemctl restart",
            "bluetooth; the cost: any unbonded device in range may then connect as a",
            "keyboard or mouse."};
}

std::vector<BluetoothDevice> KnownRemotes(const std::vector<BluetoothDevice>& devices) {
    std::vector<BluetoothDevice> remotes;
    for (const BluetoothDevice& device : devices) {
        if (IsRemoteName(device.name)) {
            remotes.push_back(device);
        }
    }
    return remotes;
}
