#include "platform/message.h"

#include <SDL.h>

#include <cstdio>

#include "platform/sdl/host.h"
#include "platform/sdl/sdl_lock.h"

namespace {

// The console stand-in for a dialog: the text alone on its line, then Enter
// plays the part of the OK button. Without a terminal nobody could press it,
// so the message counts as seen.
void ShowOnConsole(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (!ConsoleCanAnswer()) {
        return;
    }
    int c = 0;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
}

}  // namespace

void ShowMessage(const char* text) {
    // SDL's box needs a title: "Error", the one Windows gives a box that names
    // none (there the program names none and lets Windows translate it).
    if (HasDisplay()) {
        const SdlLock sdl;
        if (SDL_ShowSimpleMessageBox(0, "Error", text, nullptr) == 0) {
            return;
        }
    }
    ShowOnConsole(text);
}
