#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

// A small tmpfs of its own, for a real full file system: only root may mount one. skipReason()
// says why there is none; the test then skips instead of passing.
class TmpfsMount {
public:
    explicit TmpfsMount(int kibibytes) {
        if (!m_dir.isValid()) {
            m_skipReason = "no temporary folder for the mount point";
            return;
        }
        if (::geteuid() != 0) {
            m_skipReason = "mounting a tmpfs needs root";
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0755";
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                    options.constData()) != 0) {
            m_skipReason = std::string("tmpfs mount failed: ") + std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~TmpfsMount() {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& skipReason() const { return m_skipReason; }
    QString path() const { return m_dir.path(); }

    // Fills what is left with one file; true once a write was refused for want of space.
    bool fill(const QString& name) const {
        const int fd = ::open(QFile::encodeName(QDir(path()).filePath(name)).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'x');
        bool full = false;
        while (!full) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            if (n < 0) {
                full = errno == ENOSPC;
                break;
            }
        }
        ::close(fd);
        return full;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    std::string m_skipReason;
};
