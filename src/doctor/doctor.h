// glowbrand-doctor's checks, in order along the chain from Bluetooth to the
// speakers.
#pragma once

#include <cstdint>

// Runs the seven checks and prints a line for each; at a terminal (live) it
// also shows the remote's buttons and motion for a few seconds. Returns the
// exit status: 0 when the remote is found, opens and reports and the four
// sounds load, 1 otherwise.
int32_t RunDoctor(bool live);
