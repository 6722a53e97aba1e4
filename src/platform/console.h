// The console: where the banner and usage lines go.
#pragma once

// Writes text to standard output as it stands (no formatting) and flushes it,
// so that it is on screen before the next step starts.
void PrintText(const char* text);

// True when standard output is a terminal (a console window), where a line
// may be redrawn in place; false when it goes to a file or a pipe.
bool OutputIsTerminal();
