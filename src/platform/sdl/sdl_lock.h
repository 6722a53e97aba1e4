// SDL's subsystem calls (audio init and quit, opening and closing a device,
// a message box) are not safe from two threads at once, and the sound
// worker opens the device while the main thread may show a message. Each
// such call is made holding this lock. Decoding needs no lock.
#pragma once

void LockSdl();
void UnlockSdl();

// Holds the lock for a scope.
struct SdlLock {
    SdlLock() {
        LockSdl();
    }
    ~SdlLock() {
        UnlockSdl();
    }
    SdlLock(const SdlLock&) = delete;
    SdlLock& operator=(const SdlLock&) = delete;
};
