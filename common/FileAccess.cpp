#include "common/FileAccess.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int FileAccess::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}

int FileAccess::openLocked(const char* path, int flags, Failure& failure, mode_t mode) {
    const int fd = open(path, flags, mode);
    if (fd < 0) {
        failure = {false, errno};
        return -1;
    }
    if (!lock(fd)) {
        failure = {true, errno};
        close(fd);
        return -1;
    }
    return fd;
}

bool FileAccess::lock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void FileAccess::unlock(int fd) {
    ::flock(fd, LOCK_UN);
}

void FileAccess::close(int fd) {
    if (fd >= 0)
        ::close(fd);
}
