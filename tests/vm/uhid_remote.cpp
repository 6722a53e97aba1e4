// A Wii Remote made at kernel level, for the VM suite: a Bluetooth HID device
// created through /dev/uhid that answers and reports as a remote does
// (remote_behaviour.h), so the real glowbrand meets it through hidraw, next
// to the kernel's own driver.
//
//   glowbrand-uhid-remote SCRIPT LOG [--low-bits=noise|clear] [--battery=LEVEL]
//
// SCRIPT is a scripted remote's script; `gone A-B` destroys the device and
// creates it again. LOG's times are in ms since the device was first created.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "remote_behaviour.h"

namespace {

constexpr uint8_t kBusBluetooth = 0x05;

volatile sig_atomic_t stopRequested = 0;

class UhidCarrier : public RemoteCarrier {
public:
    UhidCarrier(int fd, RemoteBehaviour& remote) : fd_(fd), remote_(remote) {}

    bool Create() {
        uhid_event ev{};
        ev.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "%s",
                      remote_.Name());
        std::snprintf(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, "%s",
                      "00:1f:32:aa:bb:cc");
        const std::vector<uint8_t> descriptor = RemoteReportDescriptor();
        std::memcpy(ev.u.create2.rd_data, descriptor.data(), descriptor.size());
        ev.u.create2.rd_size = static_cast<uint16_t>(descriptor.size());
        ev.u.create2.bus = kBusBluetooth;
        ev.u.create2.vendor = kRemoteVendorId;
        ev.u.create2.product = static_cast<uint32_t>(remote_.ProductId());
        if (!SendEvent(ev)) {
            return false;
        }
        remote_.Connected();
        return true;
    }

    void Send(const uint8_t* report, size_t length) override {
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<uint16_t>(length);
        std::memcpy(ev.u.input2.data, report, length);
        SendEvent(ev);
    }

    void Drop() override {
        uhid_event ev{};
        ev.type = UHID_DESTROY;
        SendEvent(ev);
        remote_.Disconnected();
    }

    void Return() override {
        Create();
    }

    void OnEvent(const uhid_event& ev) {
        switch (ev.type) {
            case UHID_OUTPUT:
                remote_.OnOutput(*this, ev.u.output.data, ev.u.output.size);
                break;
            case UHID_GET_REPORT: {
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = ev.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                SendEvent(reply);
                break;
            }
            case UHID_SET_REPORT: {
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = ev.u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                SendEvent(reply);
                break;
            }
            default:
                break;
        }
    }

private:
    bool SendEvent(const uhid_event& ev) {
        return write(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
    }

    int fd_;
    RemoteBehaviour& remote_;
};

void OnStop(int) {
    stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    RemoteBehaviour remote;
    bool usable = argc >= 3;
    for (int i = 3; usable && i < argc; ++i) {
        usable = remote.TakeOption(argv[i]);
    }
    if (!usable) {
        std::fprintf(stderr, "usage: %s SCRIPT LOG [--low-bits=noise|clear] [--battery=0-255]\n",
                     argv[0]);
        return 2;
    }
    const std::string error = remote.LoadScript(argv[1]);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (!remote.OpenLog(argv[2]) || fd < 0) {
        std::perror(fd < 0 ? "/dev/uhid" : argv[2]);
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    UhidCarrier carrier(fd, remote);
    remote.Prepare(carrier);
    if (!carrier.Create()) {
        std::perror("UHID_CREATE2");
        return 2;
    }
    while (stopRequested == 0) {
        const double waitMs = remote.Run(carrier);
        pollfd p{fd, POLLIN, 0};
        const int timeoutMs = waitMs < 1.0 ? 1 : static_cast<int>(waitMs);
        if (poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0) {
            uhid_event ev{};
            if (read(fd, &ev, sizeof ev) > 0) {
                carrier.OnEvent(ev);
            }
        }
    }
    if (remote.Present()) {
        carrier.Drop();
    }
    remote.CloseLog();
    close(fd);
    return 0;
}
