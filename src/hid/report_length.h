// Output report lengths of the Wii Remote, shared by every tiny_hid library so
// that a scripted session sends exactly what a real one would.
#pragma once

#include <cstdint>

// Length in bytes of output report `id`, identifier included, or 0 for an
// identifier the remote does not take.
constexpr int OutputReportLength(uint8_t id) {
    switch (id) {
        case 0x12:  // data reporting mode: flags, mode
            return 3;
        case 0x10:  // rumble
        case 0x11:  // player LEDs
        case 0x13:  // IR camera clock (bit 0: rumble)
        case 0x14:  // speaker enable
        case 0x15:  // status request
        case 0x19:  // speaker mute
        case 0x1A:  // IR camera enable
            return 2;
        case 0x16:  // memory write: address, size, 16 data bytes
        case 0x18:  // speaker data
            return 22;
        case 0x17:  // memory read: address, size
            return 7;
        default:
            return 0;
    }
}
