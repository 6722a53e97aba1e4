#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

// The thread runs detached and reports the end of its body, so a thread that
// ends on its own never needs reaping and a join can be bounded. The lock is
// statically initialised and the condition made once and never destroyed:
// nothing is torn down at exit while a thread may still be signalling.
namespace {

pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
bool running = false;

// Waits on the monotonic clock: a step of the wall clock (NTP, the user)
// neither cuts a join short nor stretches it.
pthread_cond_t* MakeEnded() {
    static pthread_cond_t made;
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&made, &attributes);
    pthread_condattr_destroy(&attributes);
    return &made;
}
pthread_cond_t& ended = *MakeEnded();

void* Run(void* body) {
    reinterpret_cast<void (*)()>(body)();
    pthread_mutex_lock(&mutex);
    running = false;
    pthread_cond_broadcast(&ended);
    pthread_mutex_unlock(&mutex);
    return nullptr;
}

timespec DeadlineIn(int32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000;
    }
    return deadline;
}

}  // namespace

bool StartThread(void (*body)()) {
    pthread_mutex_lock(&mutex);
    bool started = false;
    pthread_attr_t attributes;
    if (!running && pthread_attr_init(&attributes) == 0) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        started = pthread_create(&thread, &attributes, Run, reinterpret_cast<void*>(body)) == 0;
        pthread_attr_destroy(&attributes);
    }
    running = running || started;
    pthread_mutex_unlock(&mutex);
    return started;
}

bool JoinThread(int32_t timeoutMs) {
    const timespec deadline = DeadlineIn(timeoutMs);
    pthread_mutex_lock(&mutex);
    int waited = 0;
    while (running && waited != ETIMEDOUT) {
        waited = pthread_cond_timedwait(&ended, &mutex, &deadline);
    }
    const bool done = !running;
    pthread_mutex_unlock(&mutex);
    return done;
}

void SleepMs(int32_t ms) {
    timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}
