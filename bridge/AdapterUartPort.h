#pragma once

#include "bridge/AdapterPort.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class CWendrake;

// The adapter port over a connected CWendrake whose UART runs. A reader thread takes the
// adapter's reports into a queue of ReceiveQueueBound bytes; when the bridge leaves them there
// the reader stops reading, the host's report queue fills and the kernel drops further reports
// (hidraw keeps 63 and drops newer ones). A writer thread writes the queued bytes in order.
// Line, purge and pin commands run on the caller's thread, as the window's do.
//
// While reports keep coming, the reader reads at most every HandOverMs and so wakes itself, the
// bridge and the client once for several reports, which queue in the host meanwhile (eight of
// hidraw's 63 at the adapter's full rate). The first bytes after a quiet time (a read that
// waited HandOverMs or more) and the first after the client wrote (an answer may be awaited) are
// read and handed over at once.
class AdapterUartPort : public AdapterPort {
    Q_OBJECT
public:
    static constexpr qint64 ReceiveQueueBound = qint64(64) << 10;
    // Bytes per WriteUart call, so pendingWrite shrinks as the adapter takes them.
    static constexpr qint64 WriteChunk = 4096;
    // An unplugged adapter fails every read at once: this many in a row mean it is gone.
    static constexpr int FailuresBeforeGone = 8;
    // The least time between two reads while bytes keep coming: well inside the host's queue
    // and a screen's frame, and few enough wake-ups to keep the bridge's CPU low.
    static constexpr int HandOverMs = 8;

    // line: the adapter's UART configuration now (read by whoever started the UART).
    AdapterUartPort(CWendrake& adapter, const UartConfig& line, QObject* parent = nullptr);
    // Stops both threads.
    ~AdapterUartPort() override;

    void start();
    // Stops and joins both threads (the stream is resumed, so the adapter can be torn down).
    void stop();

    bool writeBytes(const QByteArray& bytes) override;
    qint64 pendingWrite() const override;
    QByteArray takeReceived(qint64 max) override;
    bool applyLine(const UartConfig& config) override;
    UartConfig line() const override { return m_line; }
    bool purge(bool receive, bool transmit) override;
    bool setPins(std::uint8_t values, std::uint8_t mask) override;
    bool pinLevels(std::uint8_t* latch) override;

    // Figures: how often the reader waited because the bridge left its queue full, and how
    // often it held back a read because bytes kept coming.
    std::uint64_t readerWaits() const { return m_readerWaits; }
    std::uint64_t readerPauses() const { return m_readerPauses; }

private:
    void readLoop();
    void writeLoop();
    void notifyReceived();
    void notifyWritten();

    CWendrake& m_adapter;
    UartConfig m_line;
    std::unique_ptr<std::uint8_t[]> m_readBuffer;
    std::uint32_t m_readBufferSize = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_readRoom;
    std::condition_variable m_pauseEnd;
    std::condition_variable m_writeWork;
    QByteArray m_received;
    QByteArray m_toWrite;
    qint64 m_writing = 0;
    bool m_stop = false;
    bool m_receivedPosted = false;
    bool m_writtenPosted = false;
    bool m_gonePosted = false;
    bool m_readerPausing = false;
    // The client wrote since the reader last looked: what comes next may be awaited.
    bool m_clientWrote = false;
    std::atomic<std::uint64_t> m_readerWaits{0};
    std::atomic<std::uint64_t> m_readerPauses{0};
    std::thread m_reader;
    std::thread m_writer;
};
