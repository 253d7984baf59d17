#pragma once

#include "bridge/BridgeFace.h"
#include "bridge/Rfc2217Codec.h"
#include "device/WendrakeTypes.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>

class Bridge;

// The adapter as a network serial port (Telnet with COM-PORT-OPTION) for one client at a time.
// Every line setting reaches the adapter; RTS and DTR drive the pins of the pin map (asserted
// is low, as on a UART's modem lines); CTS is reported from GPIO1. No authentication: the
// caller listens on the loopback address unless the user names another.
class Rfc2217Face : public BridgeFace {
    Q_OBJECT
public:
    struct PinMap {
        std::uint8_t rts = PinLatchBit::Gpio0;
        std::uint8_t dtr = PinLatchBit::Q3Reset;
    };
    // Bytes written to the socket and not yet sent before the face takes no more from the
    // bridge; the bridge then holds what the client does not read.
    static constexpr qint64 SocketBound = qint64(64) << 10;
    static constexpr int ModemPollMs = 200;
    // Broken negotiation lines logged per client; the rest is counted.
    static constexpr int LoggedProblems = 10;

    explicit Rfc2217Face(Bridge& bridge, QObject* parent = nullptr);
    ~Rfc2217Face() override;

    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 serverPort() const { return m_server.serverPort(); }
    void setPinMap(PinMap map) { m_pins = map; }
    bool hasClient() const { return m_socket != nullptr; }
    int refusedClients() const { return m_refused; }
    // Broken Telnet or COM-PORT-OPTION input over all clients.
    std::uint64_t problems() const { return m_problems; }

    qint64 deliver(const char* data, qint64 size) override;
    void setReadingPaused(bool paused) override;
    QString clientDescription() const override;

signals:
    void clientChanged(bool connected);

private:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten();
    void handle(const Rfc2217Codec::PortCommand& command);
    void control(std::uint32_t value);
    void setLine(std::uint8_t mask, bool asserted);
    bool lineAsserted(std::uint8_t mask);
    void pollModem();
    void send(const std::string& bytes);

    Bridge& m_bridge;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    Rfc2217Codec m_codec;
    QTimer m_modemPoll;
    PinMap m_pins;
    QString m_peer;
    bool m_readingPaused = false;
    bool m_suspended = false;
    std::uint8_t m_modemMask = 0xFF;
    std::uint8_t m_lineMask = 0;
    int m_lastModem = -1;
    int m_refused = 0;
    std::uint64_t m_problems = 0;
    std::uint64_t m_clientProblems = 0;
};
