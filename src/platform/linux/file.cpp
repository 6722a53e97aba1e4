#include "platform/file.h"

#include <sys/stat.h>

int64_t FileLength(std::FILE* file) {
    struct stat facts {};
    if (fstat(fileno(file), &facts) != 0) {
        return -1;
    }
    return facts.st_size;
}
