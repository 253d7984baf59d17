#include "common/FileAccess.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int FileAccess::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}

int FileAccess::openRegular(const char* path, bool& notRegular) {
    notRegular = false;
    struct stat info {};
    // A device is not even opened: opening some has effects of its own.
    if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        notRegular = true;
        return -1;
    }
    // O_NONBLOCK: a pipe put in the file's place since the check must not hold the open; the
    // type is judged again on what was opened.
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        notRegular = true;
        return -1;
    }
    return fd;
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
