#include "platform/console.h"

#include <cstdio>

void PrintText(const char* text) {
    std::printf("%s", text);
    std::fflush(stdout);
}
