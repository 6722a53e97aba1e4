#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace {

pthread_t thread;
bool started = false;

void* Run(void* body) {
    reinterpret_cast<void (*)()>(body)();
    return nullptr;
}

}  // namespace

bool StartThread(void (*body)()) {
    if (started) {
        return false;
    }
    started = pthread_create(&thread, nullptr, Run, reinterpret_cast<void*>(body)) == 0;
    return started;
}

bool JoinThread(int32_t timeoutMs) {
    if (!started) {
        return true;
    }
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000;
    }
    if (pthread_timedjoin_np(thread, nullptr, &deadline) != 0) {
        return false;
    }
    started = false;
    return true;
}

void SleepMs(int32_t ms) {
    timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}
