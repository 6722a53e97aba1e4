// A rumble pulse that holds against other writers to the remote.
#pragma once

#include <cstdint>

// Runs the rumble for ms, busy like every timed step, then stops it. On a
// desktop the kernel's own driver writes to the remote now and then with the
// rumble bit clear, which stops the motor; a reader thread watches the
// remote meanwhile and the rumble is set again as soon as it sees that.
// Carries out a request to end the program as WaitMs does.
void PulseRumble(int32_t ms);
