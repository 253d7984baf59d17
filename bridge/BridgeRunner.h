#pragma once

#include "bridge/Bridge.h"
#include "bridge/Rfc2217Face.h"
#include "device/WendrakeTypes.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class AdapterConnection;
class AdapterUartPort;
class CWendrake;
class PtyFace;

// One run of the bridge: opens the adapter of a serial with the window's connect sequence,
// offers it through the pty and the RFC 2217 faces, and ends with the window's tear-down, the
// adapter's UART settings written back as it found them.
// When the adapter goes, the faces (and the link) go with it; they come back when the same
// serial returns, unless the run is to end then.
class BridgeRunner : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString serial;
        QString linkPath; // empty: no pty face
        bool rfc2217 = false;
        QHostAddress address = QHostAddress(QHostAddress::LocalHost);
        quint16 port = 0;
        bool keepUnread = false;
        bool once = false;         // end when the adapter goes
        bool keepSettings = false; // leave the adapter as the clients set it
        Rfc2217Face::PinMap pins;
        // The settings to start with, from the ones the adapter has; none: the adapter's own.
        std::function<UartConfig(const UartConfig& found)> startSettings;
    };
    // How often a gone adapter is looked for.
    static constexpr int ReturnPollMs = 250;

    BridgeRunner(CWendrake& adapter, Options options, QObject* parent = nullptr);
    ~BridgeRunner() override;

    // Opens the adapter and the faces; false with a one-line reason.
    bool start(QString* error);
    // The tear-down: faces closed, threads stopped, UART off, settings written back, closed.
    void stop();

    bool isConnected() const { return m_port != nullptr; }
    Bridge* bridge() { return m_bridge.get(); }
    PtyFace* pty() { return m_pty.get(); }
    Rfc2217Face* rfc2217() { return m_rfc.get(); }

signals:
    // The adapter went and the run ends (--once), or the faces could not come back.
    void ended(const QString& reason);
    void adapterGone();
    void adapterBack();

private:
    bool open(QString* error);
    void close();
    void onGone();
    void lookForReturn();
    void logLosses();

    CWendrake& m_adapter;
    Options m_options;
    std::unique_ptr<AdapterConnection> m_connection;
    std::unique_ptr<AdapterUartPort> m_port;
    std::unique_ptr<Bridge> m_bridge;
    std::unique_ptr<PtyFace> m_pty;
    std::unique_ptr<Rfc2217Face> m_rfc;
    QTimer m_returnPoll;
};
