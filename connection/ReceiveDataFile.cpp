#include "connection/ReceiveDataFile.h"

#include "common/FileAccess.h"
#include "common/LogCategories.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReceiveDataFile::~ReceiveDataFile() {
    close();
}

bool ReceiveDataFile::existsForReading(const QString& path) {
    const int fd = FileAccess::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    struct stat info {};
    // A folder opens for reading on Linux but is no file to overwrite.
    const bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    FileAccess::close(fd);
    return isFile;
}

bool ReceiveDataFile::open(const QString& path) {
    close();
    const QByteArray native = QFile::encodeName(path);
    // Another capture or save into the same file holds the lock: refuse rather than interleave.
    // Truncating only after the lock keeps that other writer's file intact.
    FileAccess::Failure failure;
    const int fd = FileAccess::openLocked(native.constData(), O_RDWR | O_CREAT, failure, 0666);
    if (fd < 0) {
        logSystemFailure(lcFile(), failure.call(), native.constData(), failure.error);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
        logSystemFailure(lcFile(), "ftruncate", native.constData(), errno);
        FileAccess::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = native.toStdString();
    return true;
}

bool ReceiveDataFile::write(const char* data, qint64 size) {
    if (m_fd < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            logSystemFailure(lcFile(), "write", m_path, errno);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

void ReceiveDataFile::close() {
    FileAccess::close(m_fd);
    m_fd = -1;
}
