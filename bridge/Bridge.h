#pragma once

#include <QByteArray>
#include <QObject>

class AdapterPort;
class BridgeFace;

// Joins one adapter to one client at a time across all faces and pumps the bytes both ways in
// order. Received bytes wait here while the client does not read, up to HeldBound; past it the
// bridge stops taking from the adapter port, whose queue and then the adapter's fill instead.
// Bytes from the client go to the port until WriteBound is pending; then the face stops reading
// its client, so a client that sends faster than the UART is slowed, not dropped.
class Bridge : public QObject {
    Q_OBJECT
public:
    // Four seconds of the adapter's full rate (one 64-byte report a millisecond).
    static constexpr qint64 HeldBound = qint64(256) << 10;
    static constexpr qint64 WriteBound = qint64(64) << 10;

    explicit Bridge(AdapterPort& port, QObject* parent = nullptr);

    // With keepUnread, bytes that arrive while no client is connected wait (up to HeldBound)
    // for the next client; otherwise they are read and dropped, so a client never sees bytes
    // that arrived before it.
    void setKeepUnread(bool keep) { m_keepUnread = keep; }
    bool keepUnread() const { return m_keepUnread; }

    // Gives face the adapter if no other face holds it. False: the caller refuses its client
    // and may tell it who holds the adapter (holderDescription).
    bool claim(BridgeFace* face);
    void release(BridgeFace* face);
    BridgeFace* holder() const { return m_holder; }
    QString holderDescription() const;

    // The holder's client sent bytes for the adapter.
    void fromClient(BridgeFace* face, const QByteArray& bytes);
    // The client flushed: receive drops what waits for the client, both purge the adapter too.
    void purge(bool receive, bool transmit);

    AdapterPort& port() { return m_port; }
    qint64 heldBytes() const { return m_held.size() - m_heldOffset; }
    // Figures: the most ever held, how often the bridge stopped taking from the adapter because
    // the client did not read, and the bytes dropped because nobody was connected.
    qint64 heldPeak() const { return m_heldPeak; }
    qint64 receiveStops() const { return m_receiveStops; }
    qint64 droppedUnread() const { return m_droppedUnread; }

private:
    void pump();
    void resumeReading();
    void dropHeld();

    AdapterPort& m_port;
    BridgeFace* m_holder = nullptr;
    bool m_keepUnread = false;
    bool m_readingPaused = false;
    bool m_receiveStopped = false;
    bool m_pumping = false;
    QByteArray m_held;
    qint64 m_heldOffset = 0;
    qint64 m_heldPeak = 0;
    qint64 m_receiveStops = 0;
    qint64 m_droppedUnread = 0;
};
