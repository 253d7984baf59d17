#pragma once

#include "bridge/BridgeFace.h"

#include <QString>
#include <QTimer>

#include <memory>

class Bridge;
class QSocketNotifier;

// The adapter's UART as a pseudo-terminal for any serial program. The master is in packet mode
// with EXTPROC, so every settings change of the client arrives as a status byte: the rate, stop
// bits and RTS/CTS flow follow the client onto the adapter, its flushes purge the adapter's
// FIFOs, and XON/XOFF is done here because the line discipline leaves it to us then. Data bits,
// parity, modem lines and break cannot pass a pty. The master is only watched while a client
// has the node open (a master without one reports a hang-up for ever); opens are seen through
// inotify on the node.
class PtyFace : public BridgeFace {
    Q_OBJECT
public:
    // Settings changes come in bursts (a rate set in two steps): they are read this long after
    // the last notice.
    static constexpr int SettingsSettleMs = 5;

    // After a close notice the node may still count as open for a moment; it is looked at
    // again this often, this many times, unless another process still has it open.
    static constexpr int RecheckMs = 5;
    static constexpr int RecheckTries = 40;

    explicit PtyFace(Bridge& bridge, QObject* parent = nullptr);
    ~PtyFace() override;

    // Creates the pty (mode 0600, the adapter's rate, raw) and the symlink at linkPath, whose
    // folder is made if missing. A symlink left at linkPath is replaced; any other file there
    // is an error. False with a one-line reason.
    bool open(const QString& linkPath, QString* error);
    QString nodePath() const { return m_nodePath; }
    QString linkPath() const { return m_linkPath; }
    bool hasClient() const { return m_clientOpen; }
    // Opens of the node while the other face held the adapter.
    int refusedOpens() const { return m_refusedOpens; }

    qint64 deliver(const char* data, qint64 size) override;
    void setReadingPaused(bool paused) override;
    QString clientDescription() const override;

    // The place of the link when none is given: $XDG_RUNTIME_DIR/wendrake/tty-<serial>.
    static QString defaultLinkPath(const QString& serial);

signals:
    void clientChanged(bool open);

private:
    void onMasterReadable();
    // What the client did before it was seen, a flush of its input at its open above all: done
    // now, not on a later turn of the event loop, when it would drop bytes that came after it.
    void readWaiting();
    void handlePacket(const char* packet, qint64 size);
    void onMasterWritable();
    void onNodeEvent();
    void checkClient();
    void onRecheck();
    void clientClosed();
    void readSettings();
    void updateReading();
    qint64 writeToMaster(const char* data, qint64 size);
    void sendXonIfStopped();

    Bridge& m_bridge;
    int m_master = -1;
    int m_inotify = -1;
    QString m_nodePath;
    QString m_linkPath;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::unique_ptr<QSocketNotifier> m_nodeNotifier;
    QTimer m_settle;
    QTimer m_recheck;
    int m_recheckTries = 0;
    bool m_clientOpen = false;
    bool m_holding = false;
    bool m_readingPaused = false;
    // XON/XOFF asked for by the client: IXON (the far end may stop the client) and IXOFF (the
    // client may stop the far end when it does not keep up).
    bool m_ixon = false;
    bool m_ixoff = false;
    bool m_stoppedByFarEnd = false;
    bool m_sentXoff = false;
    int m_refusedOpens = 0;
    // What a refused client was told, said again when its input is flushed; empty otherwise.
    QByteArray m_refusal;
};
