#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A FIFO in the file system for tests of code that must never block on one. Opening a FIFO for
// reading waits for a writer; so that a faulty open fails its test instead of hanging it, a
// writer comes by after a bound and closes again at once, and the blocked open then returns.
class NamedPipe {
public:
    explicit NamedPipe(const QString& path,
                       std::chrono::milliseconds bound = std::chrono::seconds(3))
        : m_path(path) {
        m_made = ::mkfifo(path.toLocal8Bit().constData(), 0600) == 0;
        if (m_made)
            m_rescuer = std::thread([this, bound] { rescue(bound); });
    }
    ~NamedPipe() {
        m_done = true;
        if (m_rescuer.joinable())
            m_rescuer.join();
        if (m_made)
            ::unlink(m_path.toLocal8Bit().constData());
    }

    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    bool made() const { return m_made; }
    const QString& path() const { return m_path; }
    // Whether a reader was found blocked and had to be let go.
    bool rescued() const { return m_rescued; }

private:
    void rescue(std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!m_done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (m_done)
            return;
        // Without a reader this open fails at once (ENXIO) instead of waiting.
        const int fd = ::open(m_path.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            m_rescued = true;
            ::close(fd);
        }
    }

    QString m_path;
    bool m_made = false;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_rescued{false};
    std::thread m_rescuer;
};
