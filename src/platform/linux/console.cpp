#include "platform/console.h"

#include <unistd.h>

#include <cstdio>

void PrintText(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

bool OutputIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}
