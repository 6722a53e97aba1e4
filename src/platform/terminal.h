// The controlling terminal of the keyboard-driven remote: keys come in raw,
// without echo; the key help and the status line go out. Whatever way the
// process ends, the terminal is left as it was found.
#pragma once

#include <string_view>

// Opens the controlling terminal and switches its input to raw mode without
// echo, keeping output processing so the program's lines still end cleanly.
// Installs the handlers that restore it on a terminating signal or a crash.
// Returns false when the process has no controlling terminal.
bool OpenTerminal();

// The terminal's descriptor, to wait for and read keys; -1 when not open.
int TerminalFd();

// Writes text to the terminal as it stands.
void WriteTerminal(std::string_view text);

// Draws the status line in place of the one drawn before, or below whatever
// the program printed last if none was. Leaves the cursor at its end.
void DrawStatus(std::string_view line);

// Ends a drawn status line with a newline, so that nothing printed later
// lands on it, and puts the terminal back as it was found. Drops keys typed
// but not read, so they do not spill into the shell. Async-signal-safe and
// idempotent: it may run from a signal handler, at exit, or both.
void RestoreTerminal();
