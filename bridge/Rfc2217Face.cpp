#include "bridge/Rfc2217Face.h"

#include "bridge/AdapterPort.h"
#include "bridge/Bridge.h"
#include "bridge/BridgeLog.h"

namespace {
// SET-CONTROL values.
enum : std::uint32_t {
    FlowQuery = 0,
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    BreakQuery = 4,
    BreakOn = 5,
    BreakOff = 6,
    DtrQuery = 7,
    DtrOn = 8,
    DtrOff = 9,
    RtsQuery = 10,
    RtsOn = 11,
    RtsOff = 12,
    InboundQuery = 13,
    InboundNone = 14,
    InboundHardware = 16,
};
constexpr std::uint8_t ModemCts = 0x10;
constexpr std::uint8_t ModemDeltaCts = 0x01;
// The transmit holding and shift registers are empty: nothing is stuck in the line.
constexpr std::uint8_t LineIdle = 0x60;

// The wire's parity numbers (1 none, 2 odd, 3 even, 4 mark, 5 space) against the adapter's
// (0 none, 1 even, 2 odd, 3 mark, 4 space).
constexpr std::uint8_t WireParity[] = {1, 3, 2, 4, 5};
int adapterParity(std::uint32_t wire) {
    for (int i = 0; i < 5; ++i)
        if (WireParity[i] == wire)
            return i;
    return -1;
}

// The wire's stop sizes: 1 one, 2 two, 3 one and a half; the adapter's 1 is two bits, or one
// and a half with five data bits.
std::uint32_t wireStopSize(const UartConfig& line) {
    if (line.StopBits == 0)
        return 1;
    return line.DataBits == 5 ? 3 : 2;
}
} // namespace

Rfc2217Face::Rfc2217Face(Bridge& bridge, QObject* parent) : BridgeFace(parent), m_bridge(bridge) {
    connect(&m_server, &QTcpServer::newConnection, this, &Rfc2217Face::onNewConnection);
    m_modemPoll.setInterval(ModemPollMs);
    connect(&m_modemPoll, &QTimer::timeout, this, &Rfc2217Face::pollModem);
}

Rfc2217Face::~Rfc2217Face() {
    if (m_socket) {
        m_bridge.release(this);
        m_socket->disconnect(this);
    }
}

bool Rfc2217Face::listen(const QHostAddress& address, quint16 port, QString* error) {
    if (m_server.listen(address, port))
        return true;
    if (error)
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_server.errorString());
    return false;
}

QString Rfc2217Face::clientDescription() const {
    return QStringLiteral("an RFC 2217 client at %1").arg(m_peer);
}

void Rfc2217Face::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const QString peer =
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        bool seated = false;
        if (!m_socket) {
            m_peer = peer;
            seated = m_bridge.claim(this);
        }
        if (!seated) {
            ++m_refused;
            const QString holder = m_socket ? clientDescription() : m_bridge.holderDescription();
            qCInfo(lcBridge).noquote() << "refused the RFC 2217 client at" << peer
                                       << "- the adapter is in use by" << holder;
            socket->write(
                QStringLiteral("wendrake: the adapter is in use by %1\r\n").arg(holder).toUtf8());
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        m_socket = socket;
        m_codec = Rfc2217Codec();
        m_clientProblems = 0;
        m_suspended = false;
        m_readingPaused = false;
        m_modemMask = 0xFF;
        m_lineMask = 0;
        m_lastModem = -1;
        socket->setReadBufferSize(SocketBound);
        connect(socket, &QTcpSocket::readyRead, this, &Rfc2217Face::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &Rfc2217Face::onDisconnected);
        connect(socket, &QTcpSocket::bytesWritten, this, &Rfc2217Face::onBytesWritten);
        send(m_codec.greeting());
        pollModem();
        m_modemPoll.start();
        emit clientChanged(true);
        emit readyForMore();
        onReadyRead();
    }
}

void Rfc2217Face::onDisconnected() {
    QTcpSocket* socket = m_socket;
    if (!socket)
        return;
    m_modemPoll.stop();
    if (m_clientProblems > LoggedProblems)
        qCWarning(lcBridge).noquote() << m_clientProblems << "broken negotiations from" << m_peer;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    m_bridge.release(this);
    emit clientChanged(false);
}

void Rfc2217Face::setReadingPaused(bool paused) {
    m_readingPaused = paused;
    if (!paused && m_socket)
        QMetaObject::invokeMethod(this, &Rfc2217Face::onReadyRead, Qt::QueuedConnection);
}

void Rfc2217Face::onReadyRead() {
    while (m_socket && !m_readingPaused && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(16 << 10);
        Rfc2217Codec::Input input;
        const std::uint64_t before = m_codec.problems();
        m_codec.receive(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()), input);
        if (m_codec.problems() != before) {
            const std::uint64_t added = m_codec.problems() - before;
            m_problems += added;
            if (m_clientProblems < LoggedProblems)
                qCWarning(lcBridge).noquote() << "broken negotiation from" << m_peer << "-"
                                              << QString::fromStdString(m_codec.lastProblem());
            m_clientProblems += added;
        }
        if (!input.reply.empty())
            send(input.reply);
        // Data before a command goes out before the command changes the line.
        std::size_t sent = 0;
        for (std::size_t i = 0; i < input.commands.size(); ++i) {
            const std::size_t upTo = input.dataBefore[i];
            if (upTo > sent)
                m_bridge.fromClient(this, QByteArray(input.data.data() + sent, upTo - sent));
            sent = upTo;
            handle(input.commands[i]);
            if (!m_socket)
                return;
        }
        if (input.data.size() > sent)
            m_bridge.fromClient(this,
                                QByteArray(input.data.data() + sent, input.data.size() - sent));
    }
}

void Rfc2217Face::send(const std::string& bytes) {
    if (m_socket)
        m_socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void Rfc2217Face::handle(const Rfc2217Codec::PortCommand& command) {
    using C = Rfc2217Codec;
    AdapterPort& port = m_bridge.port();
    UartConfig line = port.line();
    switch (command.command) {
    case C::Signature:
        if (command.text.empty())
            send(C::answerText(C::Signature, "Wendrake Terminal bridge"));
        else
            qCInfo(lcBridge).noquote()
                << "client" << m_peer << "is" << QString::fromStdString(command.text);
        return;
    case C::SetBaudRate:
        if (command.value != 0 && command.value != line.BaudRate) {
            line.BaudRate = command.value;
            port.applyLine(line);
        }
        send(C::answer(C::SetBaudRate, port.line().BaudRate));
        return;
    case C::SetDataSize:
        if (command.value >= 5 && command.value <= 8 && command.value != line.DataBits) {
            line.DataBits = static_cast<std::uint8_t>(command.value);
            port.applyLine(line);
        }
        send(C::answer(C::SetDataSize, port.line().DataBits));
        return;
    case C::SetParity: {
        const int parity = adapterParity(command.value);
        if (parity >= 0 && parity != line.Parity) {
            line.Parity = static_cast<std::uint8_t>(parity);
            port.applyLine(line);
        }
        send(C::answer(C::SetParity, WireParity[port.line().Parity % 5]));
        return;
    }
    case C::SetStopSize:
        if (command.value >= 1 && command.value <= 3) {
            const std::uint8_t stop = command.value == 1 ? 0 : 1;
            if (stop != line.StopBits) {
                line.StopBits = stop;
                port.applyLine(line);
            }
        }
        send(C::answer(C::SetStopSize, wireStopSize(port.line())));
        return;
    case C::SetControl:
        control(command.value);
        return;
    case C::NotifyLineState:
        send(C::answer(C::NotifyLineState, LineIdle & m_lineMask));
        return;
    case C::NotifyModemState:
        m_lastModem = -1;
        pollModem();
        return;
    case C::FlowControlSuspend:
        m_suspended = true;
        return;
    case C::FlowControlResume:
        m_suspended = false;
        emit readyForMore();
        return;
    case C::SetLineStateMask:
        m_lineMask = static_cast<std::uint8_t>(command.value);
        send(C::answer(C::SetLineStateMask, m_lineMask));
        return;
    case C::SetModemStateMask:
        m_modemMask = static_cast<std::uint8_t>(command.value);
        send(C::answer(C::SetModemStateMask, m_modemMask));
        return;
    case C::PurgeData:
        if (command.value >= 1 && command.value <= 3)
            m_bridge.purge(command.value & 1, command.value & 2);
        send(C::answer(C::PurgeData, command.value));
        return;
    }
}

void Rfc2217Face::control(std::uint32_t value) {
    using C = Rfc2217Codec;
    AdapterPort& port = m_bridge.port();
    UartConfig line = port.line();
    switch (value) {
    case FlowNone:
    case FlowHardware:
    case InboundNone:
    case InboundHardware: {
        const std::uint8_t flow = value == FlowHardware || value == InboundHardware ? 1 : 0;
        if (flow != line.FlowControl) {
            line.FlowControl = flow;
            port.applyLine(line);
        }
        break;
    }
    case DtrOn:
    case DtrOff:
        setLine(m_pins.dtr, value == DtrOn);
        send(C::answer(C::SetControl, lineAsserted(m_pins.dtr) ? DtrOn : DtrOff));
        return;
    case DtrQuery:
        send(C::answer(C::SetControl, lineAsserted(m_pins.dtr) ? DtrOn : DtrOff));
        return;
    case RtsOn:
    case RtsOff:
        setLine(m_pins.rts, value == RtsOn);
        send(C::answer(C::SetControl, lineAsserted(m_pins.rts) ? RtsOn : RtsOff));
        return;
    case RtsQuery:
        send(C::answer(C::SetControl, lineAsserted(m_pins.rts) ? RtsOn : RtsOff));
        return;
    case BreakOn:
        qCInfo(lcBridge).noquote() << "the adapter cannot send a break; asked by" << m_peer;
        [[fallthrough]];
    case BreakQuery:
    case BreakOff:
        send(C::answer(C::SetControl, BreakOff));
        return;
    case FlowXonXoff:
        qCInfo(lcBridge).noquote()
            << "the adapter has no XON/XOFF flow control; asked by" << m_peer;
        break;
    default:
        break;
    }
    // Flow settings and their queries answer with what the adapter does now, in the form
    // asked (outbound 1-3 or inbound 13-16).
    const bool hardware = port.line().FlowControl == 1;
    const bool inbound = value >= InboundQuery && value <= 19;
    send(C::answer(C::SetControl, inbound ? (hardware ? InboundHardware : InboundNone)
                                          : (hardware ? FlowHardware : FlowNone)));
}

void Rfc2217Face::setLine(std::uint8_t mask, bool asserted) {
    if (mask)
        m_bridge.port().setPins(asserted ? 0 : mask, mask);
}

bool Rfc2217Face::lineAsserted(std::uint8_t mask) {
    std::uint8_t latch = 0;
    return mask && m_bridge.port().pinLevels(&latch) && !(latch & mask);
}

void Rfc2217Face::pollModem() {
    if (!m_socket)
        return;
    std::uint8_t latch = 0;
    if (!m_bridge.port().pinLevels(&latch))
        return;
    std::uint8_t state = (latch & PinLatchBit::Gpio1) ? 0 : ModemCts;
    if (m_lastModem >= 0 && ((m_lastModem ^ state) & ModemCts))
        state |= ModemDeltaCts;
    const bool changed = m_lastModem != (state & ModemCts);
    m_lastModem = state & ModemCts;
    if (changed)
        send(Rfc2217Codec::answer(Rfc2217Codec::NotifyModemState, state & m_modemMask));
}

qint64 Rfc2217Face::deliver(const char* data, qint64 size) {
    if (!m_socket || m_suspended)
        return 0;
    const qint64 room = SocketBound - m_socket->bytesToWrite();
    if (room <= 0)
        return 0;
    const qint64 take = std::min(room, size);
    std::string framed;
    framed.reserve(static_cast<std::size_t>(take) + 16);
    Rfc2217Codec::escape(data, static_cast<std::size_t>(take), framed);
    send(framed);
    return take;
}

void Rfc2217Face::onBytesWritten() {
    if (m_socket && !m_suspended && m_socket->bytesToWrite() < SocketBound / 2)
        emit readyForMore();
}
