#include "bridge/Bridge.h"

#include "bridge/AdapterPort.h"
#include "bridge/BridgeFace.h"
#include "bridge/BridgeLog.h"

#include <algorithm>

namespace {
// One take from the port: large enough for a flood, small enough to keep the loop responsive.
constexpr qint64 TakeChunk = qint64(64) << 10;
} // namespace

Bridge::Bridge(AdapterPort& port, QObject* parent) : QObject(parent), m_port(port) {
    connect(&m_port, &AdapterPort::bytesReceived, this, &Bridge::pump);
    connect(&m_port, &AdapterPort::bytesWritten, this, &Bridge::resumeReading);
}

bool Bridge::claim(BridgeFace* face) {
    if (m_holder == face)
        return true;
    if (m_holder)
        return false;
    if (!m_keepUnread) {
        // What arrived before this client is not its business.
        dropHeld();
        for (QByteArray stale = m_port.takeReceived(TakeChunk); !stale.isEmpty();
             stale = m_port.takeReceived(TakeChunk))
            m_droppedUnread += stale.size();
    }
    m_holder = face;
    connect(face, &BridgeFace::readyForMore, this, &Bridge::pump, Qt::UniqueConnection);
    qCInfo(lcBridge).noquote() << "client connected:" << face->clientDescription();
    pump();
    return true;
}

void Bridge::release(BridgeFace* face) {
    if (m_holder != face)
        return;
    qCInfo(lcBridge).noquote() << "client left:" << face->clientDescription();
    disconnect(face, &BridgeFace::readyForMore, this, &Bridge::pump);
    m_holder = nullptr;
    m_readingPaused = false;
    if (!m_keepUnread)
        dropHeld();
    pump();
}

QString Bridge::holderDescription() const {
    return m_holder ? m_holder->clientDescription() : QString();
}

void Bridge::fromClient(BridgeFace* face, const QByteArray& bytes) {
    if (face != m_holder || bytes.isEmpty())
        return;
    m_port.writeBytes(bytes);
    if (!m_readingPaused && m_port.pendingWrite() > WriteBound) {
        m_readingPaused = true;
        face->setReadingPaused(true);
    }
}

void Bridge::purge(bool receive, bool transmit) {
    if (receive)
        dropHeld();
    m_port.purge(receive, transmit);
    pump();
}

void Bridge::resumeReading() {
    // Half the bound, so the client is not switched on and off for every report.
    if (m_readingPaused && m_port.pendingWrite() <= WriteBound / 2) {
        m_readingPaused = false;
        if (m_holder)
            m_holder->setReadingPaused(false);
    }
}

void Bridge::dropHeld() {
    m_held.clear();
    m_heldOffset = 0;
}

void Bridge::pump() {
    // deliver() may signal readyForMore from inside; the running loop covers it.
    if (m_pumping)
        return;
    m_pumping = true;
    for (;;) {
        if (m_holder && heldBytes() > 0) {
            m_heldOffset += m_holder->deliver(m_held.constData() + m_heldOffset, heldBytes());
            if (m_heldOffset == m_held.size())
                dropHeld();
            else if (m_heldOffset > TakeChunk && m_heldOffset > m_held.size() / 2) {
                m_held.remove(0, m_heldOffset);
                m_heldOffset = 0;
            }
            if (heldBytes() > 0 && heldBytes() >= HeldBound) {
                // The client does not read: leave the rest with the port and the adapter.
                if (!m_receiveStopped) {
                    m_receiveStopped = true;
                    ++m_receiveStops;
                }
                break;
            }
        }
        const qint64 room = HeldBound - heldBytes();
        if (room <= 0) {
            if (!m_receiveStopped) {
                m_receiveStopped = true;
                ++m_receiveStops;
            }
            break;
        }
        const QByteArray chunk = m_port.takeReceived(std::min(room, TakeChunk));
        if (chunk.isEmpty())
            break;
        m_receiveStopped = false;
        if (!m_holder && !m_keepUnread) {
            m_droppedUnread += chunk.size();
            continue;
        }
        qint64 taken = 0;
        if (m_holder && heldBytes() == 0)
            taken = m_holder->deliver(chunk.constData(), chunk.size());
        if (taken < chunk.size()) {
            m_held.append(chunk.constData() + taken, chunk.size() - taken);
            m_heldPeak = std::max(m_heldPeak, heldBytes());
            if (m_holder)
                break; // the face signals readyForMore when its client has read
        }
    }
    m_pumping = false;
}
