#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Opens name for reading if it is a regular file; -1 otherwise.
int OpenRegularFile(const char* name) {
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat facts {};
    const int flags = fcntl(fd, F_GETFL);
    // Reads from here on may wait as usual (a slow disk, a network share).
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int64_t ReadWholeFile(const char* name, uint8_t* dest, int64_t capacity) {
    const int fd = OpenRegularFile(name);
    if (fd < 0) {
        return -1;
    }
    int64_t got = 0;
    while (got < capacity) {
        const ssize_t count = read(fd, dest + got, static_cast<size_t>(capacity - got));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        got += count;
    }
    close(fd);
    return got;
}
