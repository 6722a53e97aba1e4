// The console: where the banner and usage lines go.
#pragma once

// Writes text to standard output as it stands (no formatting) and flushes it,
// so that it is on screen before the next step starts.
void PrintText(const char* text);
