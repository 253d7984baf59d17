#include "connection/ReceiveThread.h"

#include "device/CWendrake.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaObject>

#include <chrono>
#include <new>

namespace {

// One hand-over takes what is queued, but gives the event loop back after this long so a flood
// never freezes the window; the rest follows at once in the next one.
constexpr qint64 DeliveryBudgetMs = 8;

} // namespace

ReceiveThread::ReceiveThread(BatchHandler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_frameTimer(this) {
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(FrameIntervalMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ReceiveThread::deliverPending);
}

ReceiveThread::~ReceiveThread() {
    stop();
}

bool ReceiveThread::start(CWendrake& adapter, std::uint32_t bufferSize) {
    stop();
    if (bufferSize == 0)
        return false;
    m_buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!m_buffer)
        return false;
    m_adapter = &adapter;
    m_bufferSize = bufferSize;
    m_stop = false;
    m_adapter->ResumeReadUart();
    m_thread = std::thread([this] { ReceiveThreadProc(); });
    return true;
}

void ReceiveThread::stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_adapter->StopReadUart();
    m_thread.join();
    m_buffer.reset();
    m_bufferSize = 0;
    m_frameTimer.stop();
    // Everything read before the stop, in order, now. A hand-over running further up the stack
    // (the stop came from inside the handler) finds the queue empty when it resumes.
    for (;;) {
        Batch batch;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                m_deliveryPosted = false;
                break;
            }
            batch = std::move(m_pending.front());
            m_pending.pop_front();
            m_queuedBytes -= batch.bytes.size();
        }
        m_handler(batch.bytes, batch.arrivalMs);
    }
}

qint64 ReceiveThread::queuedBytes() const {
    std::lock_guard lock(m_mutex);
    return m_queuedBytes;
}

void ReceiveThread::ReceiveThreadProc() {
    int failures = 0;
    while (!m_stop) {
        {
            std::unique_lock lock(m_mutex);
            if (m_queuedBytes >= m_queueLimit) {
                // The window is far behind: the adapter keeps its data until there is room.
                m_waitingForRoom = true;
                m_wake.wait(lock, [this] { return m_stop || m_queuedBytes < m_queueLimit; });
                m_waitingForRoom = false;
            }
            if (m_stop)
                break;
        }
        std::uint16_t count = 0;
        if (m_adapter->ReadUart(m_buffer.get(), m_bufferSize, &count) != WendrakeOk) {
            if (++failures >= FailuresBeforePause) {
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::milliseconds(FailurePauseMs),
                                [this] { return m_stop.load(); });
            }
            continue;
        }
        failures = 0;
        Batch batch{QByteArray(reinterpret_cast<const char*>(m_buffer.get()), count),
                    QDateTime::currentMSecsSinceEpoch()};
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            m_queuedBytes += batch.bytes.size();
            m_pending.push_back(std::move(batch));
            post = !m_deliveryPosted;
            m_deliveryPosted = true;
        }
        if (post)
            QMetaObject::invokeMethod(this, &ReceiveThread::deliverPending, Qt::QueuedConnection);
    }
}

void ReceiveThread::deliverPending() {
    ++m_deliveries;
    QElapsedTimer budget;
    budget.start();
    bool delivered = false;
    bool again = false;
    for (;;) {
        Batch batch;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                // Quiet for a whole frame: the next read posts a hand-over of its own. Otherwise
                // the frame timer takes what arrives meanwhile, so a trickle of reports costs
                // one wake a frame instead of one a report.
                if (!delivered || !m_thread.joinable())
                    m_deliveryPosted = false;
                break;
            }
            if (budget.elapsed() >= DeliveryBudgetMs && m_thread.joinable() && !m_stop) {
                again = true;
                break;
            }
            batch = std::move(m_pending.front());
            m_pending.pop_front();
            m_queuedBytes -= batch.bytes.size();
        }
        m_wake.notify_all();
        m_handler(batch.bytes, batch.arrivalMs);
        delivered = true;
    }
    if (again) {
        QMetaObject::invokeMethod(this, &ReceiveThread::deliverPending, Qt::QueuedConnection);
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_deliveryPosted && delivered)
        m_frameTimer.start();
}
