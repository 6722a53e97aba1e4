// Failure messages, shown to the user one at a time.
#pragma once

// Shows a one-line text in a modal dialog and returns once the user has
// dismissed it. Without a display, prints the text alone on its own line to
// standard error and, when standard input is a terminal, waits for Enter.
void ShowMessage(const char* text);
