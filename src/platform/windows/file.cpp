#include "platform/file.h"

#include <windows.h>

#include <algorithm>

namespace {

// Reads of this size at most: ReadFile counts in 32 bits.
constexpr int64_t kReadChunk = 1 << 20;

}  // namespace

int64_t ReadWholeFile(const char* name, uint8_t* dest, int64_t capacity) {
    // Shared for reading only: a file another program is writing is locked
    // against us and counts as missing rather than read half-written. A
    // directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // Device names (CON, NUL, COM1) and pipes open like files; only a file
    // on a disk is a sound file.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return -1;
    }
    int64_t total = 0;
    while (total < capacity) {
        const auto wanted = static_cast<DWORD>(std::min(capacity - total, kReadChunk));
        DWORD got = 0;
        if (!ReadFile(file, dest + total, wanted, &got, nullptr)) {
            CloseHandle(file);
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    CloseHandle(file);
    return total;
}
