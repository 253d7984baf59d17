#pragma once

#include <QFile>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class CWendrake;

// One file transfer at a time: reads the whole file into one block, then a worker thread hands
// it to WriteUart in a single call while the window watches Progress(). The block has exactly
// one owner at any time (this object until Start, then the worker, which releases it when
// WriteUart returns), so Cancel, a disconnect and the destructor only have to stop the worker
// and wait for it.
class FileSender {
public:
    enum class OpenResult { Ok, OpenFailed, TooLarge, ReadFailed };

    explicit FileSender(CWendrake& adapter);
    ~FileSender();

    FileSender(const FileSender&) = delete;
    FileSender& operator=(const FileSender&) = delete;

    // Opens the file for this program alone, keeps it open until Finish and reads it whole;
    // the progress counter starts at 0. Anything but a regular file (a pipe, a device, a
    // directory) is OpenFailed without waiting; an empty file is ReadFailed, 4 GiB or more
    // TooLarge.
    OpenResult Open(const QString& path);
    // Starts the worker on the block read by Open. False when the thread cannot be started (the
    // block is then released and the counter stays at 0).
    bool Start();
    // Makes a running worker stop before its next report (a pending report write is woken) and
    // waits for it; afterwards no block is held. Safe to call at any time, also twice.
    void Stop();
    // Ends the transfer in any state: Stop, counter back to 0, file closed.
    void Finish();

    // The sent-bytes counter the progress window polls.
    std::atomic<std::uint32_t>& Progress() { return m_progress; }
    // Bytes in the block, 0 once it is released.
    std::uint32_t Length() const { return m_length; }
    bool HasBuffer() const { return m_length != 0; }
    bool IsFileOpen() const { return m_file.isOpen(); }
    // The worker has been started and not yet joined (it may already have finished sending).
    bool IsStarted() const { return m_worker.joinable(); }

private:
    void closeFile();

    CWendrake& m_adapter;
    QFile m_file;
    std::unique_ptr<std::uint8_t[]> m_buffer; // until Start hands it to the worker
    std::atomic<std::uint32_t> m_length{0};
    std::atomic<std::uint32_t> m_progress{0};
    std::thread m_worker;
};
