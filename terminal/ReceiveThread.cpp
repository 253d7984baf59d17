#include "terminal/ReceiveThread.h"

#include "device/CWendrake.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <chrono>

namespace {

// One delivery hands over what is queued, but gives the event loop back after this long so a
// flood never freezes the window; the rest follows in the next delivery.
constexpr qint64 DeliveryBudgetMs = 8;

} // namespace

ReceiveThread::ReceiveThread(BatchHandler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

ReceiveThread::~ReceiveThread() {
    stop();
}

void ReceiveThread::start(CWendrake& adapter, std::uint8_t* buffer, std::uint32_t bufferSize) {
    stop();
    m_adapter = &adapter;
    m_buffer = buffer;
    m_bufferSize = bufferSize;
    m_stop = false;
    m_adapter->ResumeReadUart();
    m_thread = std::thread([this] { ReceiveThreadProc(); });
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
    deliverPending();
}

void ReceiveThread::ReceiveThreadProc() {
    int failures = 0;
    while (!m_stop) {
        std::uint16_t count = 0;
        if (m_adapter->ReadUart(m_buffer, m_bufferSize, &count) != WendrakeOk) {
            if (++failures >= FailuresBeforePause) {
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::milliseconds(FailurePauseMs),
                                [this] { return m_stop.load(); });
            }
            continue;
        }
        failures = 0;
        QByteArray bytes(reinterpret_cast<const char*>(m_buffer), count);
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(bytes));
            post = !m_deliveryPosted;
            m_deliveryPosted = true;
        }
        if (post)
            QMetaObject::invokeMethod(this, &ReceiveThread::deliverPending, Qt::QueuedConnection);
    }
}

void ReceiveThread::deliverPending() {
    // A handler may run a nested event loop (a message box); batches must still come in order,
    // so the delivery already running keeps going once the handler returns.
    if (m_delivering)
        return;
    m_delivering = true;
    QElapsedTimer budget;
    budget.start();
    for (;;) {
        QByteArray bytes;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                m_deliveryPosted = false;
                break;
            }
            if (budget.elapsed() >= DeliveryBudgetMs && m_thread.joinable() && !m_stop) {
                QMetaObject::invokeMethod(this, &ReceiveThread::deliverPending,
                                          Qt::QueuedConnection);
                break;
            }
            bytes = std::move(m_pending.front());
            m_pending.pop_front();
        }
        m_handler(bytes);
    }
    m_delivering = false;
}
