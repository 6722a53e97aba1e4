// BlueZ over the system bus, through sd-bus: its object manager for the
// adapter and the devices, Adapter1 and Device1 for the rest. Pairing is
// asked with an agent of our own registered, so that a PIN BlueZ cannot
// supply itself (its autopair plugin knows the Wii Remote's) is refused at
// once instead of waiting on an agent nobody answers.
#include "platform/bluetooth.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/system_facts.h"

namespace {

constexpr const char* kService = "org.bluez";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";
constexpr const char* kAgentPath = "/org/glowbrand/agent";
constexpr uint64_t kCallLimitUs = 5'000'000;

sd_bus* bus = nullptr;
std::string adapterPath;  // /org/bluez/hci0

std::string ErrorText(const sd_bus_error& error, int result) {
    if (error.message != nullptr) {
        return error.message;
    }
    if (error.name != nullptr) {
        return error.name;
    }
    return std::strerror(-result);
}

// Reads a variant holding a boolean or a string into the device; skips any
// other property.
int ReadDeviceProperty(sd_bus_message* m, const char* name, BluetoothDevice& device) {
    const bool isText = std::strcmp(name, "Address") == 0 || std::strcmp(name, "Name") == 0;
    bool* flag = std::strcmp(name, "Paired") == 0      ? &device.paired
                 : std::strcmp(name, "Bonded") == 0    ? &device.bonded
                 : std::strcmp(name, "Trusted") == 0   ? &device.trusted
                 : std::strcmp(name, "Connected") == 0 ? &device.connected
                                                       : nullptr;
    if (isText) {
        const char* text = nullptr;
        int r = sd_bus_message_read(m, "v", "s", &text);
        if (r >= 0 && text != nullptr) {
            (name[0] == 'A' ? device.address : device.name) = text;
        }
        return r;
    }
    if (flag != nullptr) {
        int value = 0;
        int r = sd_bus_message_read(m, "v", "b", &value);
        *flag = value != 0;
        device.bondKnown = device.bondKnown || flag == &device.bonded;
        return r;
    }
    // Found by the discovery under way: BlueZ gives an RSSI only then.
    device.seen = device.seen || std::strcmp(name, "RSSI") == 0;
    return sd_bus_message_skip(m, "v");
}

// One interface's properties: a{sv}.
int ReadProperties(sd_bus_message* m, BluetoothDevice* device) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* name = nullptr;
        r = sd_bus_message_read(m, "s", &name);
        if (r >= 0) {
            r = device != nullptr ? ReadDeviceProperty(m, name, *device)
                                  : sd_bus_message_skip(m, "v");
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(m);
        }
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

// Every object BlueZ holds: the adapters' paths and the devices.
bool ManagedObjects(std::vector<std::string>& adapters, std::vector<BluetoothDevice>& devices) {
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kService, "/", "org.freedesktop.DBus.ObjectManager",
                               "GetManagedObjects", &error, &reply, "");
    sd_bus_error_free(&error);
    if (r >= 0) {
        r = sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    }
    while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        r = sd_bus_message_read(reply, "o", &path);
        if (r >= 0) {
            r = sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        }
        while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            r = sd_bus_message_read(reply, "s", &interface);
            BluetoothDevice device;
            const bool isDevice = r >= 0 && std::strcmp(interface, kDeviceInterface) == 0;
            if (r >= 0) {
                r = ReadProperties(reply, isDevice ? &device : nullptr);
            }
            if (r >= 0 && std::strcmp(interface, kAdapterInterface) == 0) {
                adapters.emplace_back(path);
            }
            if (r >= 0 && isDevice) {
                device.id = path;
                devices.push_back(device);
            }
            if (r >= 0) {
                r = sd_bus_message_exit_container(reply);
            }
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(reply);  // the interfaces
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(reply);  // the object
        }
    }
    sd_bus_message_unref(reply);
    return r >= 0;
}

// The agent: asked only for what the remote's pairing cannot do without.
// A PIN or passkey BlueZ did not supply itself is one this remote was not
// made for: refused, which ends the pairing at once.
int RefuseAgentCall(sd_bus_message*, void*, sd_bus_error* error) {
    return sd_bus_error_set(error, "org.bluez.Error.Rejected", "no PIN to give");
}
int AcceptAgentCall(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kAgentTable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Release", "", "", AcceptAgentCall, 0),
    SD_BUS_METHOD("RequestPinCode", "o", "s", RefuseAgentCall, 0),
    SD_BUS_METHOD("RequestPasskey", "o", "u", RefuseAgentCall, 0),
    SD_BUS_METHOD("DisplayPinCode", "os", "", AcceptAgentCall, 0),
    SD_BUS_METHOD("DisplayPasskey", "ouq", "", AcceptAgentCall, 0),
    SD_BUS_METHOD("RequestConfirmation", "ou", "", RefuseAgentCall, 0),
    SD_BUS_METHOD("RequestAuthorization", "o", "", RefuseAgentCall, 0),
    // The remote opens its HID channels as it pairs: the service is its own.
    SD_BUS_METHOD("AuthorizeService", "os", "", AcceptAgentCall, 0),
    SD_BUS_METHOD("Cancel", "", "", AcceptAgentCall, 0), SD_BUS_VTABLE_END};

struct Pending {
    bool answered = false;
    int result = 0;
    std::string why;
};

int NoteAnswer(sd_bus_message* reply, void* pending, sd_bus_error*) {
    Pending& p = *static_cast<Pending*>(pending);
    p.answered = true;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply); error != nullptr) {
        p.result = -1;
        p.why = error->message != nullptr ? error->message : error->name;
    }
    return 0;
}

// Calls a method of Device1 without arguments and serves the bus (the
// agent's questions among it) until its answer or the limit.
BluetoothResult CallAndServe(const std::string& id, const char* method, int32_t limitMs,
                             std::string& why) {
    sd_bus_message* call = nullptr;
    sd_bus_slot* slot = nullptr;
    Pending pending;
    const uint64_t limitUs = static_cast<uint64_t>(limitMs) * 1000;
    int r =
        sd_bus_message_new_method_call(bus, &call, kService, id.c_str(), kDeviceInterface, method);
    if (r >= 0) {
        r = sd_bus_call_async(bus, &slot, call, NoteAnswer, &pending, limitUs);
    }
    sd_bus_message_unref(call);
    if (r < 0) {
        why = std::strerror(-r);
        return BluetoothResult::Refused;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(limitUs);
    while (!pending.answered && std::chrono::steady_clock::now() < end) {
        r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            break;
        }
        if (r == 0) {
            sd_bus_wait(bus, 100'000);
        }
    }
    sd_bus_slot_unref(slot);
    if (!pending.answered) {
        why = r < 0 ? std::strerror(-r) : "no answer";
        return BluetoothResult::TimedOut;
    }
    why = pending.why;
    // BlueZ gives up on a pairing its peer never answers with a timeout of its own.
    if (pending.result < 0 && why.find("Timeout") != std::string::npos) {
        return BluetoothResult::TimedOut;
    }
    return pending.result < 0 ? BluetoothResult::Refused : BluetoothResult::Done;
}

bool SetBoolean(const std::string& path, const char* interface, const char* property,
                std::string& why) {
    sd_bus_error error{};
    const int r =
        sd_bus_set_property(bus, kService, path.c_str(), interface, property, &error, "b", 1);
    if (r < 0) {
        why = ErrorText(error, r);
    }
    sd_bus_error_free(&error);
    return r >= 0;
}

bool CallAdapter(const char* method, std::string& why) {
    sd_bus_error error{};
    const int r = sd_bus_call_method(bus, kService, adapterPath.c_str(), kAdapterInterface, method,
                                     &error, nullptr, "");
    if (r < 0) {
        why = ErrorText(error, r);
    }
    sd_bus_error_free(&error);
    return r >= 0;
}

}  // namespace

BluetoothResult OpenBluetooth(std::string& adapter, std::string& why) {
    CloseBluetooth();
    std::string name;
    const AdapterState state = BluetoothAdapter(name);
    if (state == AdapterState::Absent) {
        return BluetoothResult::NoAdapter;
    }
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        bus = nullptr;
        why = std::strerror(-r);
        return BluetoothResult::NoService;
    }
    sd_bus_set_method_call_timeout(bus, kCallLimitUs);
    std::vector<std::string> adapters;
    std::vector<BluetoothDevice> devices;
    if (!ManagedObjects(adapters, devices)) {
        why = "bluetoothd does not answer on the system bus";
        CloseBluetooth();
        return BluetoothResult::NoService;
    }
    if (adapters.empty()) {
        CloseBluetooth();
        return state == AdapterState::Blocked ? BluetoothResult::Blocked
                                              : BluetoothResult::NoAdapter;
    }
    adapterPath = adapters.front();
    adapter = adapterPath.substr(adapterPath.rfind('/') + 1);
    return state == AdapterState::Blocked ? BluetoothResult::Blocked : BluetoothResult::Done;
}

void CloseBluetooth() {
    if (bus != nullptr) {
        sd_bus_flush_close_unref(bus);
        bus = nullptr;
    }
    adapterPath.clear();
}

BluetoothResult PowerBluetooth(std::string& why) {
    if (bus == nullptr) {
        return BluetoothResult::NoService;
    }
    if (SetBoolean(adapterPath, kAdapterInterface, "Powered", why)) {
        return BluetoothResult::Done;
    }
    std::string name;
    return BluetoothAdapter(name) == AdapterState::Blocked ||
                   why.find("Blocked") != std::string::npos ||
                   why.find("rfkill") != std::string::npos
               ? BluetoothResult::Blocked
               : BluetoothResult::Refused;
}

BluetoothResult StartBluetoothDiscovery(std::string& why) {
    if (bus == nullptr) {
        return BluetoothResult::NoService;
    }
    return CallAdapter("StartDiscovery", why) ? BluetoothResult::Done : BluetoothResult::Refused;
}

void StopBluetoothDiscovery() {
    std::string why;
    if (bus != nullptr) {
        CallAdapter("StopDiscovery", why);
    }
}

std::vector<BluetoothDevice> BluetoothDevices() {
    std::vector<std::string> adapters;
    std::vector<BluetoothDevice> devices;
    std::vector<BluetoothDevice> ours;
    if (bus != nullptr && ManagedObjects(adapters, devices)) {
        for (BluetoothDevice& device : devices) {
            if (device.id.rfind(adapterPath + "/", 0) == 0) {
                ours.push_back(device);
            }
        }
    }
    return ours;
}

BluetoothResult PairBluetoothDevice(const std::string& id, int32_t limitMs, std::string& why) {
    if (bus == nullptr) {
        return BluetoothResult::NoService;
    }
    sd_bus_slot* agent = nullptr;
    sd_bus_error error{};
    int r =
        sd_bus_add_object_vtable(bus, &agent, kAgentPath, "org.bluez.Agent1", kAgentTable, nullptr);
    if (r >= 0) {
        r = sd_bus_call_method(bus, kService, "/org/bluez", "org.bluez.AgentManager1",
                               "RegisterAgent", &error, nullptr, "os", kAgentPath,
                               "NoInputNoOutput");
    }
    sd_bus_error_free(&error);
    const BluetoothResult result = CallAndServe(id, "Pair", limitMs, why);
    if (r >= 0) {
        sd_bus_call_method(bus, kService, "/org/bluez", "org.bluez.AgentManager1",
                           "UnregisterAgent", nullptr, nullptr, "o", kAgentPath);
    }
    sd_bus_slot_unref(agent);
    return result;
}

BluetoothResult ConnectBluetoothDevice(const std::string& id, int32_t limitMs, std::string& why) {
    if (bus == nullptr) {
        return BluetoothResult::NoService;
    }
    return CallAndServe(id, "Connect", limitMs, why);
}

BluetoothResult TrustBluetoothDevice(const std::string& id, std::string& why) {
    if (bus == nullptr) {
        return BluetoothResult::NoService;
    }
    return SetBoolean(id, kDeviceInterface, "Trusted", why) ? BluetoothResult::Done
                                                            : BluetoothResult::Refused;
}

void WaitBluetooth(int32_t ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return;
        }
        if (bus != nullptr && sd_bus_process(bus, nullptr) > 0) {
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - now);
        if (bus != nullptr) {
            sd_bus_wait(bus, static_cast<uint64_t>(left.count()));
        } else {
            std::this_thread::sleep_for(left);
        }
    }
}
