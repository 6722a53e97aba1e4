// Whether a Wii Remote is a Windows device yet, as the program's own HID
// library lists it. The Windows VM guest starts the program only once it is:
// wine makes a new hidraw node a Windows device in its own time, and a
// program started before that would be told "not found" through no fault
// of its own.
//
//   glowbrand-hid-present PRODUCT     (the product id in hex: 0306, 0330)
//
// Prints the device's path and exits 0 when one is listed, exits 1 when
// none is, 2 when the system cannot be asked or the call is wrong.
#include <cstdio>
#include <cstdlib>

#include "hid/remote_protocol.h"
#include "hid/tiny_hid.h"

int main(int argc, char** argv) {
    char* end = nullptr;
    const long product = argc == 2 ? std::strtol(argv[1], &end, 16) : -1;
    if (argc != 2 || end == argv[1] || *end != '\0' || product <= 0 || product > 0xFFFF) {
        std::fputs("usage: glowbrand-hid-present PRODUCT (hex)\n", stderr);
        return 2;
    }
    TinyHidDevice device{};
    const int32_t listed =
        ListHidDevices(kRemoteVendorId, static_cast<int32_t>(product), &device, 1);
    if (listed < 0) {
        return 2;
    }
    if (listed == 0) {
        return 1;
    }
    std::puts(device.path);
    return 0;
}
