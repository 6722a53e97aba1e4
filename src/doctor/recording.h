// glowbrand-doctor --record: the remote's reports as a script of the
// scripted remote (docs/scripted-remote.md), so that glowbrand-scripted
// replays the very session.
#pragma once

#include <cstdint>

// Records the remote's reports for `seconds` (or until Ctrl+C) into `file`.
// Returns the exit status: 0 when it recorded, 1 when there is no remote, it
// cannot be opened or the file cannot be written.
int32_t RecordSession(const char* file, int32_t seconds);
