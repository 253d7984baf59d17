#include "bridge/AdapterUartPort.h"

#include "device/CWendrake.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <pthread.h>

AdapterUartPort::AdapterUartPort(CWendrake& adapter, const UartConfig& line, QObject* parent)
    : AdapterPort(parent), m_adapter(adapter), m_line(line) {}

AdapterUartPort::~AdapterUartPort() {
    stop();
}

void AdapterUartPort::start() {
    if (m_reader.joinable())
        return;
    m_readBufferSize = std::max<std::uint32_t>(m_adapter.GetReceiveBufferSize(), 64);
    m_readBuffer = std::make_unique<std::uint8_t[]>(m_readBufferSize);
    m_stop = false;
    m_reader = std::thread(&AdapterUartPort::readLoop, this);
    m_writer = std::thread(&AdapterUartPort::writeLoop, this);
}

void AdapterUartPort::stop() {
    if (!m_reader.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_readRoom.notify_all();
    m_pauseEnd.notify_all();
    m_writeWork.notify_all();
    m_adapter.StopReadUart();
    m_adapter.StopWriteUart();
    m_reader.join();
    m_writer.join();
    m_adapter.ResumeReadUart();
    m_adapter.ResumeWriteUart();
}

void AdapterUartPort::readLoop() {
    // Named, so top -H and the benchmark can tell the bridge's threads apart.
    pthread_setname_np(pthread_self(), "bridge-read");
    using Clock = std::chrono::steady_clock;
    constexpr auto handOver = std::chrono::milliseconds(HandOverMs);
    int failures = 0;
    // Bytes keep coming when a read found them waiting or had them within HandOverMs.
    bool streaming = false;
    Clock::time_point lastBytes;
    Clock::time_point readFrom;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_received.size() >= ReceiveQueueBound && !m_stop) {
                ++m_readerWaits;
                m_readRoom.wait(lock,
                                [this] { return m_stop || m_received.size() < ReceiveQueueBound; });
            }
            readFrom = lastBytes;
            if (streaming && !m_clientWrote && !m_stop) {
                ++m_readerPauses;
                m_readerPausing = true;
                if (!m_pauseEnd.wait_until(lock, lastBytes + handOver,
                                           [this] { return m_stop || m_clientWrote; }))
                    readFrom = lastBytes + handOver;
                m_readerPausing = false;
            }
            if (m_clientWrote) {
                // The client may await an answer: no pause before the read that brings it.
                m_clientWrote = false;
                streaming = false;
            }
            if (m_stop)
                return;
        }
        std::uint16_t count = 0;
        if (m_adapter.ReadUart(m_readBuffer.get(), m_readBufferSize, &count) != WendrakeOk) {
            // No pause before trying again: an unplugged adapter is to be noticed at once.
            streaming = false;
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            if (++failures >= FailuresBeforeGone) {
                if (!m_gonePosted) {
                    m_gonePosted = true;
                    QMetaObject::invokeMethod(this, &AdapterPort::gone, Qt::QueuedConnection);
                }
                return;
            }
            continue;
        }
        failures = 0;
        if (count == 0)
            continue;
        const Clock::time_point now = Clock::now();
        // A read that brought half of what one read takes: reports come faster than a pause
        // allows for, and the host's queue must not fill.
        streaming = now - readFrom < handOver && count < m_readBufferSize / 2;
        lastBytes = now;
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            m_received.append(reinterpret_cast<const char*>(m_readBuffer.get()), count);
            post = !m_receivedPosted;
            m_receivedPosted = true;
        }
        // Posted unlocked: the woken main thread takes the bytes at once and would otherwise
        // wait for this lock.
        if (post)
            QMetaObject::invokeMethod(this, &AdapterUartPort::notifyReceived, Qt::QueuedConnection);
    }
}

void AdapterUartPort::notifyReceived() {
    {
        std::lock_guard lock(m_mutex);
        m_receivedPosted = false;
    }
    emit bytesReceived();
}

void AdapterUartPort::writeLoop() {
    pthread_setname_np(pthread_self(), "bridge-write");
    for (;;) {
        QByteArray chunk;
        {
            std::unique_lock lock(m_mutex);
            m_writeWork.wait(lock, [this] { return m_stop || !m_toWrite.isEmpty(); });
            if (m_stop)
                return;
            chunk = m_toWrite.left(WriteChunk);
            m_toWrite.remove(0, chunk.size());
            m_writing = chunk.size();
        }
        const bool ok =
            m_adapter.WriteUart(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                                static_cast<std::uint32_t>(chunk.size())) == WendrakeOk;
        std::lock_guard lock(m_mutex);
        m_writing = 0;
        if (m_stop)
            return;
        if (!ok && !m_gonePosted) {
            m_gonePosted = true;
            QMetaObject::invokeMethod(this, &AdapterPort::gone, Qt::QueuedConnection);
        }
        if (!m_writtenPosted) {
            m_writtenPosted = true;
            QMetaObject::invokeMethod(this, &AdapterUartPort::notifyWritten, Qt::QueuedConnection);
        }
    }
}

void AdapterUartPort::notifyWritten() {
    {
        std::lock_guard lock(m_mutex);
        m_writtenPosted = false;
    }
    emit bytesWritten();
}

bool AdapterUartPort::writeBytes(const QByteArray& bytes) {
    std::lock_guard lock(m_mutex);
    if (m_gonePosted)
        return false;
    m_toWrite.append(bytes);
    m_writeWork.notify_one();
    m_clientWrote = true;
    if (m_readerPausing)
        m_pauseEnd.notify_one();
    return true;
}

qint64 AdapterUartPort::pendingWrite() const {
    std::lock_guard lock(m_mutex);
    return m_toWrite.size() + m_writing;
}

QByteArray AdapterUartPort::takeReceived(qint64 max) {
    std::lock_guard lock(m_mutex);
    const QByteArray taken = m_received.left(max);
    m_received.remove(0, taken.size());
    if (!taken.isEmpty())
        m_readRoom.notify_one();
    return taken;
}

bool AdapterUartPort::applyLine(const UartConfig& config) {
    if (m_adapter.SetUartConfig(&config) != WendrakeOk)
        return false;
    m_line = config;
    return true;
}

bool AdapterUartPort::purge(bool receive, bool transmit) {
    if (receive) {
        std::lock_guard lock(m_mutex);
        m_received.clear();
        m_readRoom.notify_one();
    }
    if (transmit) {
        std::lock_guard lock(m_mutex);
        m_toWrite.clear();
    }
    // The adapter's first purge flag is its transmit FIFO, the second its receive FIFO.
    return m_adapter.PurgeFifo(transmit, receive) == WendrakeOk;
}

bool AdapterUartPort::setPins(std::uint8_t values, std::uint8_t mask) {
    return m_adapter.SetPinLatch(values, mask) == WendrakeOk;
}

bool AdapterUartPort::pinLevels(std::uint8_t* latch) {
    return m_adapter.GetPinLatch(latch) == WendrakeOk;
}
