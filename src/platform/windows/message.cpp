#include "platform/message.h"

#include <windows.h>

#include <cstdio>

namespace {

bool InputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

// The console stand-in for a dialog: the text alone on its line, then Enter
// plays the part of the OK button. Without a console nobody could press it,
// so the message counts as seen.
void ShowOnConsole(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (!InputIsConsole()) {
        return;
    }
    int c = 0;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
}

}  // namespace

void ShowMessage(const char* text) {
    // No caption: Windows then shows its own, in the user's language.
    // Without a desktop (a service, a headless session) the box cannot show
    // and MessageBoxA fails at once, returning 0 or -1.
    if (MessageBoxA(nullptr, text, nullptr, MB_OK) > 0) {
        return;
    }
    ShowOnConsole(text);
}
