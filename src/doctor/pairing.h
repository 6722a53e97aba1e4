// glowbrand-doctor --pair: pairs, trusts and connects a Wii Remote in one
// step through the system's Bluetooth service, then checks that its HID node
// is there and that this user may open it.
#pragma once

#include <cstdint>

// Prints each step as it goes and, last, one line saying what came of it and
// what to do. Returns the exit status: 0 only when the remote's node is
// there and opens; 1 otherwise.
int32_t PairRemote();
