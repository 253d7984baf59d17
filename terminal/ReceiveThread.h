#pragma once

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CWendrake;

// Runs ReceiveThreadProc while connected: reads the adapter's UART on a thread of its own and
// hands every successful read, also an empty one, to the window's thread in read order. It never
// touches a widget and never waits for the window's thread, so the host's report queue keeps
// draining while the window is busy.
class ReceiveThread : public QObject {
    Q_OBJECT
public:
    // Called on the window's thread with the bytes of one read.
    using BatchHandler = std::function<void(const QByteArray& bytes)>;

    // After this many failed reads in a row (an unplugged adapter fails at once, for ever) the
    // thread pauses between reads until the pin poll notices and disconnects.
    static constexpr int FailuresBeforePause = 8;
    static constexpr int FailurePauseMs = 10;

    explicit ReceiveThread(BatchHandler handler, QObject* parent = nullptr);
    ~ReceiveThread() override;

    // Reads into buffer, whose size is the adapter's receive buffer size.
    void start(CWendrake& adapter, std::uint8_t* buffer, std::uint32_t bufferSize);
    // Stop flag, cancel of the pending read, join; then the reads taken before the stop are
    // handed over at once, so nothing reaches the handler after this returns.
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

private:
    void ReceiveThreadProc();
    void deliverPending();

    BatchHandler m_handler;
    CWendrake* m_adapter = nullptr;
    std::uint8_t* m_buffer = nullptr;
    std::uint32_t m_bufferSize = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_pending;
    bool m_deliveryPosted = false;
    bool m_delivering = false;
};
