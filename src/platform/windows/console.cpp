#include "platform/console.h"

#include <windows.h>

#include <cstdio>

void PrintText(const char* text) {
    std::printf("%s", text);
    std::fflush(stdout);
}

bool OutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}
