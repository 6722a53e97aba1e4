// The program's frame: start-up checks, failure messages, banner, the blade's
// run and the exit status.
#pragma once

#include <cstdint>

// Runs the whole program. Returns the exit status: 1 when the sounds or the
// remote are missing, 0 otherwise.
int32_t RunProgram();
