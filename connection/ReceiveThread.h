#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CWendrake;

// Runs ReceiveThreadProc while connected: reads the adapter's UART on a thread of its own and
// hands every successful read, also an empty one, to the window's thread in read order.
//
// The window's thread is woken for received data at most once a frame while data trickles in
// (a real adapter sends one report a millisecond), and as often as it can take them in a flood.
// The queue between the two is bounded: when the window falls that far behind, the reader waits
// for room instead of reading, so memory stays bounded and no byte is ever dropped here. The
// bound is far beyond what an adapter delivers in the longest hold of the window's thread, so at
// adapter speed the reader never waits and the host's report queue keeps draining.
class ReceiveThread : public QObject {
    Q_OBJECT
public:
    // Called on the window's thread with the bytes of one read and the local time, in ms since
    // the epoch, at which the read completed. A handler that runs a nested event loop must be
    // done with its batch first: later batches may be handed over inside that loop.
    using BatchHandler = std::function<void(const QByteArray& bytes, qint64 arrivalMs)>;

    // After this many failed reads in a row (an unplugged adapter fails at once, for ever) the
    // thread pauses between reads until the pin poll notices and disconnects.
    static constexpr int FailuresBeforePause = 8;
    static constexpr int FailurePauseMs = 10;
    // Received bytes waiting for the window's thread before the reader waits for room: at
    // 64 KB/s, over two minutes of a held window.
    static constexpr qint64 DefaultQueueLimitBytes = qint64(8) << 20;
    // Shortest time between two hand-overs while data trickles in: one frame of the screen.
    static constexpr int FrameIntervalMs = 16;

    explicit ReceiveThread(BatchHandler handler, QObject* parent = nullptr);
    ~ReceiveThread() override;

    // Reads into a buffer of its own of bufferSize bytes (the adapter's receive buffer size).
    // False, and no thread, when that buffer cannot be had.
    bool start(CWendrake& adapter, std::uint32_t bufferSize);
    // Stop flag, cancel of the pending read, join, buffer released; then the reads taken before
    // the stop are handed over at once, so nothing reaches the handler after this returns, also
    // when it is called from inside the handler.
    void stop();
    // The size of the buffer the running thread reads into; 0 when stopped.
    std::uint32_t bufferSize() const { return m_bufferSize; }
    bool isRunning() const { return m_thread.joinable(); }

    void setQueueLimit(qint64 bytes) { m_queueLimit = bytes; }
    qint64 queueLimit() const { return m_queueLimit; }
    // Bytes read but not yet handed over, and whether the reader is waiting for room.
    qint64 queuedBytes() const;
    bool isWaitingForRoom() const { return m_waitingForRoom; }
    // How often the window's thread was woken to take received data (figures and tests).
    std::uint64_t deliveryCount() const { return m_deliveries; }

private:
    struct Batch {
        QByteArray bytes;
        qint64 arrivalMs = 0;
    };

    void ReceiveThreadProc();
    void deliverPending();

    BatchHandler m_handler;
    CWendrake* m_adapter = nullptr;
    // One ReadUart's worth; only the reader uses it, and it goes when the reader is joined.
    // Sized 32-bit: a 16-bit size would wrap for large input queues and refuse every read.
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::uint32_t m_bufferSize = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_waitingForRoom{false};
    std::atomic<qint64> m_queueLimit{DefaultQueueLimitBytes};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Batch> m_pending;
    qint64 m_queuedBytes = 0;
    // A hand-over is posted or the frame timer runs: the reader need not post another.
    bool m_deliveryPosted = false;
    // A child, so that an event of it is known as a hand-over (benchmarks).
    QTimer m_frameTimer;
    std::uint64_t m_deliveries = 0;
};
