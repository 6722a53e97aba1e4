#include "platform/terminal.h"

#include <windows.h>

#include <atomic>
#include <string>

// The console the keyboard remote reads its keys from: its input buffer with
// line editing and echo off, so that every key arrives at once. Ctrl+C stays
// the console's own: it becomes the console control event that ends the
// program quietly, as it does without the keyboard remote.
namespace {

HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
DWORD foundMode = 0;
std::atomic<bool> raw{false};
std::atomic<bool> statusShown{false};
size_t statusWidth = 0;  // of the line drawn last, to blank what a shorter one leaves

void WriteAll(std::string_view text) {
    DWORD written = 0;
    while (!text.empty() &&
           WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written > 0) {
        text.remove_prefix(written);
    }
}

// Takes the typed characters out of the console's input records; other
// events (key releases, the mouse, a resize) are dropped.
int32_t TakeKeys(char* keys, int32_t capacity) {
    int32_t got = 0;
    DWORD waiting = 0;
    while (got < capacity && GetNumberOfConsoleInputEvents(input, &waiting) && waiting > 0) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) {
            return got > 0 ? got : -1;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (record.EventType != KEY_EVENT || !key.bKeyDown || key.uChar.AsciiChar == 0) {
            continue;
        }
        for (WORD i = 0; i < key.wRepeatCount && got < capacity; ++i) {
            keys[got++] = key.uChar.AsciiChar;
        }
    }
    return got;
}

}  // namespace

bool OpenTerminal() {
    input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
    output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE ||
        !GetConsoleMode(input, &foundMode)) {
        return false;
    }
    raw.store(true);
    const DWORD keysMode =
        foundMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT);
    if (!SetConsoleMode(input, keysMode)) {
        raw.store(false);
        return false;
    }
    return true;
}

void WriteTerminal(std::string_view text) {
    WriteAll(text);
}

void DrawStatus(std::string_view line) {
    if (!raw.load()) {
        return;
    }
    // Back to the line's start, the new text, and blanks over whatever a
    // longer earlier line left to its right.
    std::string text = "\r";
    text += line;
    if (line.size() < statusWidth) {
        text.append(statusWidth - line.size(), ' ');
        text += "\r";
        text += line;
    }
    statusWidth = line.size();
    WriteAll(text);
    statusShown.store(true);
}

void RestoreTerminal() {
    if (!raw.exchange(false)) {
        return;
    }
    if (statusShown.exchange(false)) {
        WriteAll("\n");
    }
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, foundMode);
}

int32_t ReadKeys(char* keys, int32_t capacity, int32_t timeoutMs) {
    if (input == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD woke = WaitForSingleObject(input, static_cast<DWORD>(timeoutMs));
    if (woke == WAIT_TIMEOUT) {
        return 0;
    }
    if (woke != WAIT_OBJECT_0) {
        return -1;
    }
    return TakeKeys(keys, capacity);
}
