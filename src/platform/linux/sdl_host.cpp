#include <unistd.h>

#include <cstdlib>

#include "platform/sdl/host.h"

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

bool ConsoleCanAnswer() {
    return isatty(STDIN_FILENO) != 0;
}
