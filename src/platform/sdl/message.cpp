#include "platform/message.h"

#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// The console stand-in for a dialog: the text alone on its line, then Enter
// plays the part of the OK button. Without a terminal nobody could press it,
// so the message counts as seen.
void ShowOnConsole(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (isatty(STDIN_FILENO) == 0) {
        return;
    }
    int c = 0;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
}

}  // namespace

void ShowMessage(const char* text) {
    // "Error" is the caption a dialog gets when the program names none.
    if (HasDisplay() && SDL_ShowSimpleMessageBox(0, "Error", text, nullptr) == 0) {
        return;
    }
    ShowOnConsole(text);
}
