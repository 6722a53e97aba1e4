// A Wii Remote over Bluetooth, for the VM suite: it takes a controller of its
// own through an HCI user channel (btvirt's second virtual controller, linked
// to the host's) and plays the remote's side of the air, so that BlueZ pairs
// and connects it and the kernel's HIDP makes the HID device the program
// meets. It answers and reports as the uhid remote does (remote_behaviour.h).
//
//   glowbrand-bt-remote SCRIPT LOG [--hci=N] [--ready=FILE] [--sync=FILE]
//                       [--pin=HEX] [--return=self|host] [--low-bits=...] [--battery=...]
//
// One function per layer: the HCI events, L2CAP's signalling, SDP and HID.
//   - HCI: name "Nintendo RVL-CNT-01" (-TR for a Plus), class 0x002504, page
//     and inquiry scan on, no Secure Simple Pairing: legacy PIN. It accepts
//     only the PIN a real remote wants when paired with its SYNC button, the
//     host's address as six raw bytes, least significant first (--pin=HEX
//     makes it want another), and answers later link key requests with the
//     key of that pairing.
//   - L2CAP: basic mode channels, SDP on PSM 1, HID control on 0x11 and
//     interrupt on 0x13.
//   - SDP: the HID record (0x1124, with the report descriptor) and a Device
//     ID record (0x1200: vendor 0x057E from the USB list, product 0306/0330).
//   - HID: input reports go out on the interrupt channel as A1, output
//     reports come in as A2 (or as SET_REPORT on the control channel).
// `gone A-B` drops the link at A; at B the remote connects to the host again,
// as a paired remote does when a button is pressed (--return=host: it waits
// for the host to connect it). --ready's FILE gets the remote's address once
// it has its controller; with --sync, it can be found and connected only
// while that FILE is there: from its SYNC button's press until it is
// switched off (btvirt's controllers find a device by its page scan, so it
// cannot stay connectable and not be found). LOG's times are in ms since
// the remote started; `create` is the HID channels open, `destroy` the link gone.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "remote_behaviour.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Address = std::array<uint8_t, 6>;  // least significant byte first, as on the air

// The kernel's HCI socket, as <bluetooth/hci.h> has it.
constexpr int kBtProtoHci = 1;
constexpr unsigned short kHciChannelUser = 1;
struct SockaddrHci {
    sa_family_t family;
    unsigned short dev;
    unsigned short channel;
};

// HCI packet types, commands and events.
constexpr uint8_t kCommandPacket = 0x01;
constexpr uint8_t kAclPacket = 0x02;
constexpr uint8_t kEventPacket = 0x04;
constexpr uint16_t kCreateConnection = 0x0405;
constexpr uint16_t kDisconnect = 0x0406;
constexpr uint16_t kAcceptConnection = 0x0409;
constexpr uint16_t kLinkKeyReply = 0x040B;
constexpr uint16_t kLinkKeyNegativeReply = 0x040C;
constexpr uint16_t kPinCodeReply = 0x040D;
constexpr uint16_t kReset = 0x0C03;
constexpr uint16_t kWriteLocalName = 0x0C13;
constexpr uint16_t kWriteScanEnable = 0x0C1A;
constexpr uint16_t kWriteClassOfDevice = 0x0C24;
constexpr uint16_t kWriteSimplePairingMode = 0x0C56;
constexpr uint16_t kReadBufferSize = 0x1005;
constexpr uint16_t kReadAddress = 0x1009;
constexpr uint8_t kScanNone = 0x00;
constexpr uint8_t kScanBoth = 0x03;  // inquiry and page scan: found and connectable
constexpr uint8_t kConnectionComplete = 0x03;
constexpr uint8_t kConnectionRequest = 0x04;
constexpr uint8_t kDisconnectionComplete = 0x05;
constexpr uint8_t kCommandComplete = 0x0E;
constexpr uint8_t kPinCodeRequest = 0x16;
constexpr uint8_t kLinkKeyRequest = 0x17;
constexpr uint8_t kLinkKeyNotification = 0x18;

// L2CAP.
constexpr uint16_t kSignalling = 0x0001;
constexpr uint16_t kPsmSdp = 0x0001;
constexpr uint16_t kPsmHidControl = 0x0011;
constexpr uint16_t kPsmHidInterrupt = 0x0013;
constexpr uint16_t kDefaultMtu = 672;

// HIDP.
constexpr uint8_t kHidHandshake = 0x00;
constexpr uint8_t kHidControl = 0x10;
constexpr uint8_t kHidGetReport = 0x40;
constexpr uint8_t kHidSetReport = 0x50;
constexpr uint8_t kHidSetProtocol = 0x70;
constexpr uint8_t kHidData = 0xA0;
constexpr uint8_t kHidInput = 0x01;
constexpr uint8_t kHidOutput = 0x02;
constexpr uint8_t kHidUnplug = 0x05;
constexpr uint8_t kHandshakeOk = 0x00;
constexpr uint8_t kHandshakeUnsupported = 0x03;

volatile sig_atomic_t stopRequested = 0;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void PutLe16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
void PutBe16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// SDP's data elements, as far as the records need them.
Bytes Element(uint8_t header, std::initializer_list<uint8_t> value) {
    Bytes b{header};
    b.insert(b.end(), value);
    return b;
}
Bytes U8(uint8_t v) {
    return Element(0x08, {v});
}
Bytes U16(uint16_t v) {
    return Element(0x09, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
Bytes U32(uint32_t v) {
    return Element(0x0A, {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
Bytes Uuid(uint16_t v) {
    return Element(0x19, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
Bytes Bool(bool v) {
    return Element(0x28, {static_cast<uint8_t>(v ? 1 : 0)});
}
// A text or a sequence: its header and length, then its bytes.
Bytes Sized(uint8_t type, const Bytes& body) {
    Bytes b;
    if (body.size() < 256) {
        b = {static_cast<uint8_t>(type << 3 | 5), static_cast<uint8_t>(body.size())};
    } else {
        b = {static_cast<uint8_t>(type << 3 | 6)};
        PutBe16(b, static_cast<uint16_t>(body.size()));
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes Text(const std::string& text) {
    return Sized(4, Bytes(text.begin(), text.end()));
}
Bytes Seq(std::initializer_list<Bytes> items) {
    Bytes body;
    for (const Bytes& item : items) {
        body.insert(body.end(), item.begin(), item.end());
    }
    return Sized(6, body);
}

struct SdpRecord {
    uint32_t handle;
    std::vector<uint16_t> uuids;                         // every UUID in it, for service searches
    std::vector<std::pair<uint16_t, Bytes>> attributes;  // by identifier, rising
};

std::vector<SdpRecord> Records(const RemoteBehaviour& remote) {
    const Bytes descriptor = RemoteReportDescriptor();
    const std::string name = remote.Name();
    const auto protocol = [](uint16_t psm, uint16_t above) {
        return Seq({Seq({Uuid(0x0100), U16(psm)}), Seq({Uuid(above)})});
    };
    SdpRecord hid{0x00010000, {0x1124, 0x0100, 0x0011, 0x1002}, {}};
    hid.attributes = {
        {0x0000, U32(hid.handle)},
        {0x0001, Seq({Uuid(0x1124)})},
        {0x0004, protocol(kPsmHidControl, 0x0011)},
        {0x0005, Seq({Uuid(0x1002)})},
        {0x0006, Seq({U16(0x656E), U16(0x006A), U16(0x0100)})},
        {0x0009, Seq({Seq({Uuid(0x1124), U16(0x0100)})})},
        {0x000D, Seq({protocol(kPsmHidInterrupt, 0x0011)})},
        {0x0100, Text(name)},
        {0x0101, Text(name)},
        {0x0102, Text("Nintendo")},
        {0x0200, U16(0x0100)},                                   // device release
        {0x0201, U16(0x0111)},                                   // HID parser version
        {0x0202, U8(0x04)},                                      // subclass: joystick
        {0x0203, U8(0x33)},                                      // country code
        {0x0204, Bool(false)},                                   // virtual cable
        {0x0205, Bool(true)},                                    // reconnects by itself
        {0x0206, Seq({Seq({U8(0x22), Sized(4, descriptor)})})},  // the report descriptor
        {0x0207, Seq({Seq({U16(0x0409), U16(0x0100)})})},
        {0x0208, Bool(false)},  // SDP stays available while connected
        {0x020A, Bool(true)},   // battery powered
        {0x020B, Bool(false)},  // no remote wake
        {0x020C, U16(0x0C80)},  // supervision timeout
        {0x020D, Bool(false)},  // not normally connectable
        {0x020E, Bool(false)},  // no boot protocol
    };
    SdpRecord id{0x00010001, {0x1200, 0x0100, 0x0001, 0x1002}, {}};
    id.attributes = {
        {0x0000, U32(id.handle)},
        {0x0001, Seq({Uuid(0x1200)})},
        {0x0004, protocol(kPsmSdp, 0x0001)},
        {0x0005, Seq({Uuid(0x1002)})},
        {0x0200, U16(0x0103)},  // the Device ID record's version
        {0x0201, U16(static_cast<uint16_t>(kRemoteVendorId))},
        {0x0202, U16(static_cast<uint16_t>(remote.ProductId()))},
        {0x0203, U16(0x0600)},  // the product's version
        {0x0204, Bool(true)},   // the primary record
        {0x0205, U16(0x0002)},  // the vendor id is from the USB list
    };
    return {hid, id};
}

// One data element of a request: where its value is and how long; false on
// a malformed one.
bool ReadElement(const uint8_t*& p, const uint8_t* end, uint8_t& type, const uint8_t*& value,
                 size_t& length) {
    if (p >= end) {
        return false;
    }
    type = *p >> 3;
    const uint8_t size = *p & 7;
    ++p;
    if (size < 5) {
        length = type == 0 ? 0 : static_cast<size_t>(1) << size;
    } else {
        const size_t bytes = static_cast<size_t>(1) << (size - 5);
        if (static_cast<size_t>(end - p) < bytes) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < bytes; ++i) {
            length = length << 8 | *p++;
        }
    }
    if (static_cast<size_t>(end - p) < length) {
        return false;
    }
    value = p;
    p += length;
    return true;
}

struct Channel {
    uint16_t psm = 0;
    uint16_t remoteCid = 0;  // 0: closed
    uint16_t remoteMtu = kDefaultMtu;
    bool configured = false;  // the host took our configuration
    bool accepted = false;    // we took the host's
    bool Open() const {
        return remoteCid != 0 && configured && accepted;
    }
};

class BluetoothRemote : public RemoteCarrier {
public:
    explicit BluetoothRemote(RemoteBehaviour& remote) : remote_(remote) {}

    bool TakeOption(const char* option);
    bool Start();
    void Serve();

    void Send(const uint8_t* report, size_t length) override;
    void Drop() override;
    void Return() override;

private:
    using Clock = std::chrono::steady_clock;

    void Command(uint16_t opcode, const Bytes& parameters);
    bool CommandAndWait(uint16_t opcode, const Bytes& parameters, Bytes& answer);
    void OnPacket(const uint8_t* packet, size_t length);
    void OnHciEvent(uint8_t code, const uint8_t* p, size_t length);
    void OnAcl(const uint8_t* p, size_t length);
    void SendL2cap(uint16_t cid, const Bytes& payload);
    void Signal(uint8_t code, uint8_t ident, const Bytes& data);
    void OnSignalling(const uint8_t* p, size_t length);
    void OnSdp(const uint8_t* p, size_t length);
    void OnHid(uint16_t psm, const uint8_t* p, size_t length);
    void Page();
    void Connect(uint16_t psm);
    void SendConfiguration(uint16_t psm);
    void ChannelsChanged();
    Channel* ByLocal(uint16_t cid);
    static uint16_t LocalCid(uint16_t psm) {
        return psm == kPsmSdp ? 0x0040 : psm == kPsmHidControl ? 0x0041 : 0x0042;
    }

    RemoteBehaviour& remote_;
    int fd_ = -1;
    int index_ = 1;
    std::string readyFile_;
    std::string syncFile_;  // found and connectable while it is there
    bool findable_ = false;
    bool pinGiven_ = false;
    Bytes pin_;
    bool returnsItself_ = true;

    Address address_{};
    uint16_t aclMtu_ = 192;
    Address host_{};
    bool paired_ = false;
    uint8_t linkKey_[16] = {};
    uint16_t handle_ = 0;
    bool linked_ = false;
    bool initiator_ = false;  // the link is ours: we open the HID channels
    bool interruptAsked_ = false;
    int retries_ = 0;
    Clock::time_point retryAt_;
    bool retrying_ = false;
    Bytes rx_;  // an L2CAP frame still arriving in pieces
    uint8_t ident_ = 0;
    Channel sdp_{kPsmSdp}, control_{kPsmHidControl}, interrupt_{kPsmHidInterrupt};
};

bool BluetoothRemote::TakeOption(const char* option) {
    const std::string o = option;
    if (o.rfind("--hci=", 0) == 0) {
        index_ = std::atoi(o.c_str() + 6);
    } else if (o.rfind("--ready=", 0) == 0) {
        readyFile_ = o.substr(8);
    } else if (o.rfind("--sync=", 0) == 0) {
        syncFile_ = o.substr(7);
    } else if (o == "--return=self" || o == "--return=host") {
        returnsItself_ = o == "--return=self";
    } else if (o.rfind("--pin=", 0) == 0) {
        const std::string hex = o.substr(6);
        if (hex.empty() || hex.size() > 32 || hex.size() % 2 != 0) {
            return false;
        }
        pin_.clear();
        for (size_t i = 0; i < hex.size(); i += 2) {
            char* end = nullptr;
            const std::string byte = hex.substr(i, 2);
            pin_.push_back(static_cast<uint8_t>(std::strtoul(byte.c_str(), &end, 16)));
            if (*end != '\0') {
                return false;
            }
        }
        pinGiven_ = true;
    } else {
        return false;
    }
    return true;
}

// HCI -----------------------------------------------------------------------

void BluetoothRemote::Command(uint16_t opcode, const Bytes& parameters) {
    Bytes packet{kCommandPacket};
    PutLe16(packet, opcode);
    packet.push_back(static_cast<uint8_t>(parameters.size()));
    packet.insert(packet.end(), parameters.begin(), parameters.end());
    if (write(fd_, packet.data(), packet.size()) < 0) {
        std::perror("HCI command");
    }
}

// For the set-up only: the command's return parameters, status first.
bool BluetoothRemote::CommandAndWait(uint16_t opcode, const Bytes& parameters, Bytes& answer) {
    Command(opcode, parameters);
    uint8_t packet[1100];
    for (int i = 0; i < 50; ++i) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t got = read(fd_, packet, sizeof packet);
        if (got >= 6 && packet[0] == kEventPacket && packet[1] == kCommandComplete &&
            Le16(packet + 4) == opcode) {
            answer.assign(packet + 6, packet + got);
            return !answer.empty() && answer[0] == 0;
        }
    }
    return false;
}

bool BluetoothRemote::Start() {
    fd_ = socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, kBtProtoHci);
    if (fd_ < 0) {
        std::perror("HCI socket");
        return false;
    }
    const SockaddrHci at{AF_BLUETOOTH, static_cast<unsigned short>(index_), kHciChannelUser};
    // Busy while the kernel still sets up the new controller.
    int bound = -1;
    for (int i = 0; i < 100 && bound < 0; ++i) {
        bound = bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at);
        if (bound < 0) {
            usleep(100000);
        }
    }
    if (bound < 0) {
        std::perror("HCI user channel");
        return false;
    }
    Bytes answer;
    Bytes name(248, 0);
    std::memcpy(name.data(), remote_.Name(), std::strlen(remote_.Name()));
    bool ready = CommandAndWait(kReset, {}, answer) && CommandAndWait(kReadAddress, {}, answer) &&
                 answer.size() >= 7;
    if (ready) {
        std::copy(answer.begin() + 1, answer.begin() + 7, address_.begin());
        ready = CommandAndWait(kReadBufferSize, {}, answer) && answer.size() >= 3;
    }
    if (ready) {
        aclMtu_ = std::max<uint16_t>(Le16(&answer[1]), 16);
        ready =
            CommandAndWait(kWriteLocalName, name, answer) &&
            CommandAndWait(kWriteClassOfDevice, {0x04, 0x25, 0x00}, answer) &&
            CommandAndWait(kWriteSimplePairingMode, {0x00}, answer) &&
            CommandAndWait(kWriteScanEnable, {syncFile_.empty() ? kScanBoth : kScanNone}, answer);
    }
    if (!ready) {
        std::fprintf(stderr, "the controller hci%d did not take its set-up\n", index_);
        return false;
    }
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address_[5], address_[4],
                  address_[3], address_[2], address_[1], address_[0]);
    if (!readyFile_.empty()) {
        const std::string part = readyFile_ + ".part";
        FILE* file = std::fopen(part.c_str(), "w");
        if (file == nullptr || std::fprintf(file, "%s\n", text) < 0 || std::fclose(file) != 0 ||
            std::rename(part.c_str(), readyFile_.c_str()) != 0) {
            std::perror(readyFile_.c_str());
            return false;
        }
    }
    return true;
}

void BluetoothRemote::OnPacket(const uint8_t* packet, size_t length) {
    if (length >= 3 && packet[0] == kEventPacket && packet[2] <= length - 3) {
        OnHciEvent(packet[1], packet + 3, packet[2]);
    } else if (length >= 5 && packet[0] == kAclPacket) {
        OnAcl(packet + 1, length - 1);
    }
}

void BluetoothRemote::OnHciEvent(uint8_t code, const uint8_t* p, size_t length) {
    Bytes reply;
    switch (code) {
        case kConnectionRequest:  // the host pages us: stay the peripheral
            if (length >= 6) {
                reply.assign(p, p + 6);
                reply.push_back(0x01);
                Command(kAcceptConnection, reply);
            }
            break;
        case kConnectionComplete:
            if (length < 9) {
                break;
            }
            if (p[0] != 0) {
                std::fprintf(stderr, "connection failed: 0x%02x\n", p[0]);
                if (initiator_ && retries_ < 10) {  // paged again, as a button held would
                    ++retries_;
                    retrying_ = true;
                    retryAt_ = Clock::now() + std::chrono::milliseconds(500);
                }
                break;
            }
            handle_ = Le16(p + 1) & 0x0FFF;
            std::copy(p + 3, p + 9, host_.begin());
            linked_ = true;
            retries_ = 0;
            rx_.clear();
            interruptAsked_ = false;
            if (initiator_) {
                Connect(kPsmHidControl);
            }
            break;
        case kDisconnectionComplete:
            if (length >= 3 && p[0] == 0 && (Le16(p + 1) & 0x0FFF) == handle_) {
                linked_ = false;
                initiator_ = false;
                sdp_ = Channel{kPsmSdp};
                control_ = Channel{kPsmHidControl};
                interrupt_ = Channel{kPsmHidInterrupt};
                remote_.Disconnected();
            }
            break;
        case kPinCodeRequest:  // legacy pairing: the PIN we want, whatever the host says
            if (length >= 6) {
                const Bytes pin = pinGiven_ ? pin_ : Bytes(p, p + 6);
                reply.assign(p, p + 6);
                reply.push_back(static_cast<uint8_t>(pin.size()));
                reply.insert(reply.end(), pin.begin(), pin.end());
                reply.resize(6 + 1 + 16, 0);
                Command(kPinCodeReply, reply);
            }
            break;
        case kLinkKeyNotification:
            if (length >= 22) {
                std::copy(p, p + 6, host_.begin());
                std::memcpy(linkKey_, p + 6, 16);
                paired_ = true;
            }
            break;
        case kLinkKeyRequest:
            if (length >= 6) {
                reply.assign(p, p + 6);
                const bool known = paired_ && std::equal(p, p + 6, host_.begin());
                if (known) {
                    reply.insert(reply.end(), linkKey_, linkKey_ + 16);
                }
                Command(known ? kLinkKeyReply : kLinkKeyNegativeReply, reply);
            }
            break;
        default:
            break;
    }
}

// L2CAP ---------------------------------------------------------------------

void BluetoothRemote::OnAcl(const uint8_t* p, size_t length) {
    const uint16_t header = Le16(p);
    const size_t size = Le16(p + 2);
    if (size > length - 4 || (header & 0x0FFF) != handle_) {
        return;
    }
    const bool continuing = (header >> 12 & 0x3) == 0x1;
    if (!continuing) {
        rx_.clear();
    } else if (rx_.empty()) {
        return;  // the rest of a frame whose start we missed
    }
    rx_.insert(rx_.end(), p + 4, p + 4 + size);
    if (rx_.size() < 4 || rx_.size() < 4u + Le16(rx_.data())) {
        return;
    }
    const Bytes frame(rx_.begin(), rx_.begin() + 4 + Le16(rx_.data()));
    rx_.clear();
    const uint16_t cid = Le16(&frame[2]);
    const uint8_t* payload = frame.data() + 4;
    const size_t payloadLength = frame.size() - 4;
    if (cid == kSignalling) {
        OnSignalling(payload, payloadLength);
    } else if (Channel* channel = ByLocal(cid); channel != nullptr && channel->Open()) {
        if (channel->psm == kPsmSdp) {
            OnSdp(payload, payloadLength);
        } else {
            OnHid(channel->psm, payload, payloadLength);
        }
    }
}

void BluetoothRemote::SendL2cap(uint16_t cid, const Bytes& payload) {
    if (!linked_) {
        return;
    }
    Bytes frame;
    PutLe16(frame, static_cast<uint16_t>(payload.size()));
    PutLe16(frame, cid);
    frame.insert(frame.end(), payload.begin(), payload.end());
    // In pieces of at most the controller's buffer: the first marked as a
    // start, the rest as continuations.
    for (size_t at = 0; at < frame.size(); at += aclMtu_) {
        const size_t piece = std::min<size_t>(aclMtu_, frame.size() - at);
        Bytes packet{kAclPacket};
        PutLe16(packet, static_cast<uint16_t>(handle_ | (at == 0 ? 0x2000 : 0x1000)));
        PutLe16(packet, static_cast<uint16_t>(piece));
        packet.insert(packet.end(), frame.begin() + at, frame.begin() + at + piece);
        if (write(fd_, packet.data(), packet.size()) < 0) {
            std::perror("ACL");
        }
    }
}

Channel* BluetoothRemote::ByLocal(uint16_t cid) {
    for (Channel* c : {&sdp_, &control_, &interrupt_}) {
        if (LocalCid(c->psm) == cid) {
            return c;
        }
    }
    return nullptr;
}

void BluetoothRemote::Signal(uint8_t code, uint8_t ident, const Bytes& data) {
    Bytes command{code, ident};
    PutLe16(command, static_cast<uint16_t>(data.size()));
    command.insert(command.end(), data.begin(), data.end());
    SendL2cap(kSignalling, command);
}

void BluetoothRemote::Connect(uint16_t psm) {
    Channel& channel = psm == kPsmHidControl ? control_ : interrupt_;
    channel = Channel{psm};
    Bytes request;
    PutLe16(request, psm);
    PutLe16(request, LocalCid(psm));
    Signal(0x02, ++ident_, request);
}

void BluetoothRemote::SendConfiguration(uint16_t psm) {
    Bytes request;
    PutLe16(request, ByLocal(LocalCid(psm))->remoteCid);
    PutLe16(request, 0);  // flags: complete
    Signal(0x04, ++ident_, request);
}

void BluetoothRemote::OnSignalling(const uint8_t* p, size_t length) {
    while (length >= 4) {
        const uint8_t code = p[0];
        const uint8_t ident = p[1];
        const size_t size = Le16(p + 2);
        if (size > length - 4) {
            return;
        }
        const uint8_t* d = p + 4;
        Bytes reply;
        switch (code) {
            case 0x02:  // connection request: the host opens SDP or a HID channel
                if (size >= 4) {
                    const uint16_t psm = Le16(d);
                    Channel* channel = psm == kPsmSdp            ? &sdp_
                                       : psm == kPsmHidControl   ? &control_
                                       : psm == kPsmHidInterrupt ? &interrupt_
                                                                 : nullptr;
                    PutLe16(reply, channel != nullptr ? LocalCid(psm) : 0);
                    PutLe16(reply, Le16(d + 2));
                    PutLe16(reply, channel != nullptr ? 0x0000 : 0x0002);  // or: no such PSM
                    PutLe16(reply, 0);
                    Signal(0x03, ident, reply);
                    if (channel != nullptr) {
                        *channel = Channel{psm};
                        channel->remoteCid = Le16(d + 2);
                        SendConfiguration(psm);
                    }
                }
                break;
            case 0x03:  // connection response, to ours
                if (size >= 8) {
                    Channel* channel = ByLocal(Le16(d + 2));
                    const uint16_t result = Le16(d + 4);
                    if (channel != nullptr && result == 0) {
                        channel->remoteCid = Le16(d);
                        SendConfiguration(channel->psm);
                    } else if (result != 1) {  // 1: pending
                        std::fprintf(stderr, "the host refused a channel: %u\n", result);
                    }
                }
                break;
            case 0x04:  // configuration request: its MTU is what we may send
                if (size >= 4) {
                    Channel* channel = ByLocal(Le16(d));
                    for (size_t at = 4; channel != nullptr && at + 2 <= size; at += 2 + d[at + 1]) {
                        if ((d[at] & 0x7F) == 0x01 && d[at + 1] == 2 && at + 4 <= size) {
                            channel->remoteMtu = Le16(d + at + 2);
                        }
                    }
                    PutLe16(reply, channel != nullptr ? channel->remoteCid : 0);
                    PutLe16(reply, 0);
                    PutLe16(reply, channel != nullptr ? 0x0000 : 0x0002);  // or: rejected
                    Signal(0x05, ident, reply);
                    if (channel != nullptr) {
                        channel->accepted = true;
                        ChannelsChanged();
                    }
                }
                break;
            case 0x05:  // configuration response, to ours
                if (size >= 6) {
                    if (Channel* channel = ByLocal(Le16(d));
                        channel != nullptr && Le16(d + 4) == 0) {
                        channel->configured = true;
                        ChannelsChanged();
                    }
                }
                break;
            case 0x06:  // disconnection request
                if (size >= 4) {
                    reply.assign(d, d + 4);
                    Signal(0x07, ident, reply);
                    if (Channel* channel = ByLocal(Le16(d)); channel != nullptr) {
                        *channel = Channel{channel->psm};
                        ChannelsChanged();
                    }
                }
                break;
            case 0x0A:  // information request: nothing beyond basic mode
                if (size >= 2) {
                    reply.assign(d, d + 2);
                    PutLe16(reply, 0x0001);  // not supported
                    Signal(0x0B, ident, reply);
                }
                break;
            default:
                break;
        }
        p += 4 + size;
        length -= 4 + size;
    }
}

// The HID channels both open is a remote there; either one gone, none. On a
// link of our own making, the interrupt channel follows the control channel.
void BluetoothRemote::ChannelsChanged() {
    const bool both = control_.Open() && interrupt_.Open();
    if (both && !remote_.Present()) {
        remote_.Connected();
    } else if (!both && remote_.Present()) {
        remote_.Disconnected();
    }
    if (initiator_ && control_.Open() && !interruptAsked_) {
        interruptAsked_ = true;
        Connect(kPsmHidInterrupt);
    }
}

// SDP -----------------------------------------------------------------------

void BluetoothRemote::OnSdp(const uint8_t* p, size_t length) {
    if (length < 5) {
        return;
    }
    const uint8_t pdu = p[0];
    const uint16_t transaction = Be16(p + 1);
    const uint8_t* at = p + 5;
    const uint8_t* end = p + std::min<size_t>(length, 5u + Be16(p + 3));
    const auto respond = [&](uint8_t id, const Bytes& parameters) {
        Bytes response{id};
        PutBe16(response, transaction);
        PutBe16(response, static_cast<uint16_t>(parameters.size()));
        response.insert(response.end(), parameters.begin(), parameters.end());
        SendL2cap(sdp_.remoteCid, response);
    };
    const auto error = [&](uint16_t code) {
        Bytes parameters;
        PutBe16(parameters, code);
        respond(0x01, parameters);
    };
    // Its service search pattern: the UUIDs a record must all hold.
    const auto pattern = [&](std::vector<uint32_t>& uuids) {
        uint8_t type = 0;
        const uint8_t* value = nullptr;
        size_t size = 0;
        if (!ReadElement(at, end, type, value, size) || type != 6) {
            return false;
        }
        for (const uint8_t* q = value; q < value + size;) {
            const uint8_t* v = nullptr;
            size_t n = 0;
            if (!ReadElement(q, value + size, type, v, n) || type != 3 ||
                (n != 2 && n != 4 && n != 16)) {
                return false;
            }
            uuids.push_back(n == 2 ? Be16(v) : static_cast<uint32_t>(Be16(v)) << 16 | Be16(v + 2));
        }
        return true;
    };
    // Its attribute ID list: identifiers and ranges.
    const auto wanted = [&](std::vector<std::pair<uint16_t, uint16_t>>& ranges) {
        uint8_t type = 0;
        const uint8_t* value = nullptr;
        size_t size = 0;
        if (!ReadElement(at, end, type, value, size) || type != 6) {
            return false;
        }
        for (const uint8_t* q = value; q < value + size;) {
            const uint8_t* v = nullptr;
            size_t n = 0;
            if (!ReadElement(q, value + size, type, v, n) || type != 1 || (n != 2 && n != 4)) {
                return false;
            }
            ranges.emplace_back(Be16(v), n == 2 ? Be16(v) : Be16(v + 2));
        }
        return true;
    };
    const auto matches = [](const SdpRecord& record, const std::vector<uint32_t>& uuids) {
        return std::all_of(uuids.begin(), uuids.end(), [&](uint32_t uuid) {
            return std::find(record.uuids.begin(), record.uuids.end(), uuid) != record.uuids.end();
        });
    };
    const auto attributes = [](const SdpRecord& record,
                               const std::vector<std::pair<uint16_t, uint16_t>>& ranges) {
        Bytes body;
        for (const auto& [id, value] : record.attributes) {
            if (std::any_of(ranges.begin(), ranges.end(),
                            [id = id](const auto& r) { return id >= r.first && id <= r.second; })) {
                const Bytes key = U16(id);
                body.insert(body.end(), key.begin(), key.end());
                body.insert(body.end(), value.begin(), value.end());
            }
        }
        return Sized(6, body);
    };
    // What is left of a long answer goes out in later responses, each asked
    // for with the offset we gave as the continuation state.
    const auto inPieces = [&](uint8_t id, const Bytes& whole, uint16_t most) {
        size_t offset = 0;
        if (end - at >= 3 && at[0] == 2) {
            offset = Be16(at + 1);
        } else if (end - at < 1 || at[0] != 0) {
            return error(0x0005);  // a continuation state we never gave
        }
        // Room for the header, the byte count and the longest state.
        const size_t room =
            static_cast<size_t>(std::max(1, std::min<int>(most, sdp_.remoteMtu - 5 - 2 - 3)));
        if (offset > whole.size()) {
            return error(0x0005);
        }
        const size_t piece = std::min(room, whole.size() - offset);
        Bytes parameters;
        PutBe16(parameters, static_cast<uint16_t>(piece));
        parameters.insert(parameters.end(), whole.begin() + offset, whole.begin() + offset + piece);
        if (offset + piece < whole.size()) {
            parameters.push_back(2);
            PutBe16(parameters, static_cast<uint16_t>(offset + piece));
        } else {
            parameters.push_back(0);
        }
        respond(id, parameters);
    };

    // A service search attribute request, all that BlueZ asks.
    std::vector<uint32_t> uuids;
    std::vector<std::pair<uint16_t, uint16_t>> ranges;
    if (pdu != 0x06 || !pattern(uuids) || end - at < 2) {
        return error(0x0003);
    }
    const uint16_t most = Be16(at);
    at += 2;
    if (!wanted(ranges)) {
        return error(0x0003);
    }
    Bytes lists;
    for (const SdpRecord& record : Records(remote_)) {
        if (matches(record, uuids)) {
            const Bytes list = attributes(record, ranges);
            lists.insert(lists.end(), list.begin(), list.end());
        }
    }
    inPieces(0x07, Sized(6, lists), most);
}

// HID -----------------------------------------------------------------------

void BluetoothRemote::OnHid(uint16_t psm, const uint8_t* p, size_t length) {
    if (length == 0) {
        return;
    }
    const uint8_t type = p[0] & 0xF0;
    const uint8_t parameter = p[0] & 0x0F;
    if (type == kHidData && parameter == kHidOutput) {
        remote_.OnOutput(*this, p + 1, length - 1);
        return;
    }
    if (psm != kPsmHidControl) {
        return;
    }
    uint8_t handshake = kHandshakeUnsupported;
    if (type == kHidControl) {
        if (parameter == kHidUnplug) {
            Drop();
        }
        return;
    }
    if (type == kHidSetReport && (parameter & 0x3) == kHidOutput) {
        remote_.OnOutput(*this, p + 1, length - 1);
        handshake = kHandshakeOk;
    } else if (type == kHidSetProtocol) {
        handshake = kHandshakeOk;
    } else if (type != kHidGetReport && type != kHidSetReport) {
        return;
    }
    SendL2cap(control_.remoteCid, Bytes{static_cast<uint8_t>(kHidHandshake | handshake)});
}

void BluetoothRemote::Send(const uint8_t* report, size_t length) {
    if (!interrupt_.Open()) {
        return;
    }
    Bytes frame{static_cast<uint8_t>(kHidData | kHidInput)};
    frame.insert(frame.end(), report, report + length);
    SendL2cap(interrupt_.remoteCid, frame);
}

void BluetoothRemote::Drop() {
    if (linked_) {
        Bytes parameters;
        PutLe16(parameters, handle_);
        parameters.push_back(0x13);  // the remote's user ended it
        Command(kDisconnect, parameters);
    }
}

void BluetoothRemote::Return() {
    if (!returnsItself_ || !paired_ || linked_) {
        return;
    }
    initiator_ = true;
    retries_ = 0;
    Page();
}

void BluetoothRemote::Page() {
    Bytes parameters(host_.begin(), host_.end());
    PutLe16(parameters, 0xCC18);  // the packet types
    parameters.push_back(0x01);   // page scan repetition: R1
    parameters.push_back(0x00);
    PutLe16(parameters, 0x0000);  // no clock offset known
    parameters.push_back(0x01);   // a role switch is allowed
    Command(kCreateConnection, parameters);
}

void BluetoothRemote::Serve() {
    uint8_t packet[1100];
    while (stopRequested == 0) {
        if (!syncFile_.empty() && (access(syncFile_.c_str(), F_OK) == 0) != findable_) {
            findable_ = !findable_;
            Command(kWriteScanEnable, {findable_ ? kScanBoth : kScanNone});
        }
        if (retrying_ && Clock::now() >= retryAt_) {
            retrying_ = false;
            Page();
        }
        const double waitMs = remote_.Run(*this);
        pollfd p{fd_, POLLIN, 0};
        const int timeoutMs = waitMs < 1.0 ? 1 : static_cast<int>(waitMs);
        if (poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t got = read(fd_, packet, sizeof packet);
            if (got > 0) {
                OnPacket(packet, static_cast<size_t>(got));
            }
        }
    }
    Drop();
}

void OnStop(int) {
    stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    RemoteBehaviour remote;
    BluetoothRemote bluetooth(remote);
    bool usable = argc >= 3;
    for (int i = 3; usable && i < argc; ++i) {
        usable = remote.TakeOption(argv[i]) || bluetooth.TakeOption(argv[i]);
    }
    if (!usable) {
        std::fprintf(stderr,
                     "usage: %s SCRIPT LOG [--hci=N] [--ready=FILE] [--sync=FILE] [--pin=HEX] "
                     "[--return=self|host] [--low-bits=noise|clear] [--battery=0-255]\n",
                     argv[0]);
        return 2;
    }
    const std::string error = remote.LoadScript(argv[1]);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    if (!remote.OpenLog(argv[2])) {
        std::perror(argv[2]);
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    remote.Prepare(bluetooth);
    if (!bluetooth.Start()) {
        return 2;
    }
    bluetooth.Serve();
    remote.CloseLog();
    return 0;
}
