#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* OpenRegularFile(const char* name) {
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat facts {};
    const int flags = fcntl(fd, F_GETFL);
    // Reads from here on may wait as usual (a slow disk, a network share).
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

int64_t FileLength(std::FILE* file) {
    struct stat facts {};
    if (fstat(fileno(file), &facts) != 0) {
        return -1;
    }
    return facts.st_size;
}
