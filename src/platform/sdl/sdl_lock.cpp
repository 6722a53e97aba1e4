#include "platform/sdl/sdl_lock.h"

#include <mutex>

namespace {

// Never destroyed: a worker may still open the device while the process ends.
std::mutex& sdlMutex = *new std::mutex;

}  // namespace

void LockSdl() {
    sdlMutex.lock();
}

void UnlockSdl() {
    sdlMutex.unlock();
}
