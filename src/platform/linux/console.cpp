#include "platform/console.h"

#include <cstdio>

void PrintText(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}
