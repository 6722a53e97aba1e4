// The controlling terminal of the keyboard-driven remote: keys come in raw,
// without echo; the key help and the status line go out. Whatever way the
// process ends, the terminal is left as it was found.
#pragma once

#include <cstdint>
#include <string_view>

// Opens the controlling terminal and switches its input to raw mode without
// echo, keeping output processing so the program's lines still end cleanly.
// From then on the terminal is restored on every way out: exit, a signal
// that ends the process, a crash. Returns false when the process has no
// controlling terminal.
bool OpenTerminal();

// Writes text to the terminal as it stands.
void WriteTerminal(std::string_view text);

// Draws the status line in place of the one drawn before, or below whatever
// the program printed last if none was. Leaves the cursor at its end.
void DrawStatus(std::string_view line);

// Ends a drawn status line with a newline, so that nothing printed later
// lands on it, and puts the terminal back as it was found. Drops keys typed
// but not read, so they do not spill into the shell. Idempotent, and on Linux
// async-signal-safe: it may run from a signal handler, at exit, or both.
void RestoreTerminal();

// Waits up to timeoutMs for keys and copies at most capacity bytes of them
// into keys. Returns the number of bytes, 0 on timeout (or when the wait was
// cut short), -1 when the terminal is gone (hung up, closed) and will give no
// more keys.
int32_t ReadKeys(char* keys, int32_t capacity, int32_t timeoutMs);
