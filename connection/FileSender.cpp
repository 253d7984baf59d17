#include "connection/FileSender.h"

#include "common/FileAccess.h"
#include "device/CWendrake.h"

#include <new>
#include <system_error>

FileSender::FileSender(CWendrake& adapter) : m_adapter(adapter) {}

FileSender::~FileSender() {
    Finish();
}

FileSender::OpenResult FileSender::Open(const QString& path) {
    Finish();
    // Only regular files are sent: a named pipe would hold the window in open() until a writer
    // came, a device in read() for ever.
    bool notRegular = false;
    const int fd = FileAccess::openRegular(QFile::encodeName(path).constData(), notRegular);
    if (fd < 0)
        return OpenResult::OpenFailed;
    if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        FileAccess::close(fd);
        return OpenResult::OpenFailed;
    }
    // No sharing: a file another program holds locked is refused, and ours stays locked for the
    // whole transfer.
    if (!FileAccess::lock(m_file.handle())) {
        closeFile();
        return OpenResult::OpenFailed;
    }

    const qint64 size = m_file.size();
    // The transfer counts in 32 bits; a larger file would silently be cut to its low 32 bits.
    if (size > static_cast<qint64>(UINT32_MAX)) {
        closeFile();
        return OpenResult::TooLarge;
    }
    const auto length = static_cast<std::uint32_t>(size);
    m_progress = 0;

    std::unique_ptr<std::uint8_t[]> buffer(length ? new (std::nothrow) std::uint8_t[length]
                                                  : nullptr);
    qint64 got = 0;
    if (buffer) {
        while (got < size) {
            const qint64 n = m_file.read(reinterpret_cast<char*>(buffer.get()) + got, size - got);
            if (n <= 0)
                break;
            got += n;
        }
    }
    // A short read (the file shrank, or an I/O error) would send bytes never read.
    if (!buffer || got != size) {
        closeFile();
        return OpenResult::ReadFailed;
    }
    m_buffer = std::move(buffer);
    m_length = length;
    return OpenResult::Ok;
}

bool FileSender::Start() {
    if (!m_buffer || m_worker.joinable())
        return false;
    // A stop left by the previous transfer would end this one before its first report.
    m_adapter.ResumeWriteUart();
    const std::uint32_t length = m_length;
    try {
        m_worker = std::thread([this, buffer = std::move(m_buffer), length]() mutable {
            // The status is not needed: the progress window judges the end by the counter.
            m_adapter.WriteUart(buffer.get(), length, &m_progress);
            buffer.reset();
            m_length = 0;
        });
    } catch (const std::system_error&) {
        // The lambda, and with it the block, is gone already.
        m_buffer.reset();
        m_length = 0;
        return false;
    }
    return true;
}

void FileSender::Stop() {
    if (m_worker.joinable()) {
        m_adapter.StopWriteUart();
        m_worker.join();
        // Typed sends use the same stream; they must not find it stopped.
        m_adapter.ResumeWriteUart();
    }
    m_buffer.reset();
    m_length = 0;
}

void FileSender::Finish() {
    Stop();
    m_progress = 0;
    closeFile();
}

void FileSender::closeFile() {
    if (m_file.isOpen()) {
        FileAccess::unlock(m_file.handle());
        m_file.close();
    }
}
