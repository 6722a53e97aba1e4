#include "platform/thread.h"

#include <windows.h>

// A thread that is still running after a bounded join is never forced to
// end (TerminateThread would leave its locks held): it keeps its handle, and
// no other thread starts until it has ended.
namespace {

HANDLE thread = nullptr;

DWORD WINAPI Run(LPVOID body) {
    reinterpret_cast<void (*)()>(body)();
    return 0;
}

bool Ended() {
    return thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

void Release() {
    CloseHandle(thread);
    thread = nullptr;
}

}  // namespace

bool StartThread(void (*body)()) {
    if (!Ended()) {
        return false;
    }
    if (thread != nullptr) {
        Release();
    }
    thread = CreateThread(nullptr, 0, Run, reinterpret_cast<LPVOID>(body), 0, nullptr);
    return thread != nullptr;
}

bool JoinThread(int32_t timeoutMs) {
    if (thread == nullptr) {
        return true;
    }
    if (WaitForSingleObject(thread, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return false;
    }
    Release();
    return true;
}

void SleepMs(int32_t ms) {
    Sleep(static_cast<DWORD>(ms));
}
