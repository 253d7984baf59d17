#include "bridge/BridgeRunner.h"

#include "bridge/AdapterUartPort.h"
#include "bridge/BridgeLog.h"
#include "bridge/PtyFace.h"
#include "connection/AdapterConnection.h"
#include "connection/AdapterFinder.h"
#include "device/CWendrake.h"

BridgeRunner::BridgeRunner(CWendrake& adapter, Options options, QObject* parent)
    : QObject(parent), m_adapter(adapter), m_options(std::move(options)) {
    m_returnPoll.setInterval(ReturnPollMs);
    connect(&m_returnPoll, &QTimer::timeout, this, &BridgeRunner::lookForReturn);
}

BridgeRunner::~BridgeRunner() {
    stop();
}

bool BridgeRunner::start(QString* error) {
    return open(error);
}

void BridgeRunner::stop() {
    m_returnPoll.stop();
    close();
}

bool BridgeRunner::open(QString* error) {
    auto fail = [&](const QString& reason) {
        close();
        if (error)
            *error = reason;
        return false;
    };
    const AdapterFinder::Choice choice = AdapterFinder(m_adapter).Choose(m_options.serial);
    if (choice.What != AdapterFinder::Outcome::Found)
        return fail(choice.Message);
    // The bridge reads the adapter itself (its own reader thread, bounded), so the connection's
    // receive thread is never started.
    m_connection = std::make_unique<AdapterConnection>(m_adapter, [](const QByteArray&, qint64) {});
    if (m_connection->Open(unsigned(choice.Adapter.Index)) != WendrakeOk)
        return fail(QStringLiteral("adapter %1 could not be opened").arg(m_options.serial));
    if (m_connection->StartUart(false) != AdapterConnection::UartResult::Started)
        return fail(
            QStringLiteral("adapter %1: the UART could not be started").arg(m_options.serial));
    if (!m_connection->SavedUartConfig())
        return fail(QStringLiteral("adapter %1: the UART settings could not be read")
                        .arg(m_options.serial));
    const UartConfig line = m_options.startSettings
                                ? m_options.startSettings(*m_connection->SavedUartConfig())
                                : *m_connection->SavedUartConfig();
    // Written also when unchanged: the adapter's own settings, flow control included, as the
    // window writes its settings once the UART runs.
    if (m_adapter.SetUartConfig(&line) != WendrakeOk)
        return fail(
            QStringLiteral("adapter %1: the UART settings could not be set").arg(m_options.serial));
    m_port = std::make_unique<AdapterUartPort>(m_adapter, line);
    connect(m_port.get(), &AdapterPort::gone, this, &BridgeRunner::onGone, Qt::QueuedConnection);
    m_bridge = std::make_unique<Bridge>(*m_port);
    m_bridge->setKeepUnread(m_options.keepUnread);
    m_port->start();
    QString reason;
    if (!m_options.linkPath.isEmpty()) {
        m_pty = std::make_unique<PtyFace>(*m_bridge);
        if (!m_pty->open(m_options.linkPath, &reason))
            return fail(reason);
    }
    if (m_options.rfc2217) {
        m_rfc = std::make_unique<Rfc2217Face>(*m_bridge);
        m_rfc->setPinMap(m_options.pins);
        if (!m_rfc->listen(m_options.address, m_options.port, &reason))
            return fail(reason);
    }
    return true;
}

void BridgeRunner::close() {
    // Faces first (the link goes, clients are dropped), then the threads, then the adapter.
    m_pty.reset();
    m_rfc.reset();
    if (m_port) {
        m_port->stop();
        logLosses();
    }
    m_bridge.reset();
    m_port.reset();
    if (m_connection)
        m_connection->Close(m_options.keepSettings);
    m_connection.reset();
}

// Said once, when the adapter is let go: hidraw drops reports without telling anybody, so the
// times the adapter went unread are what tell the user a run may have lost bytes.
void BridgeRunner::logLosses() {
    if (const qint64 dropped = m_bridge->droppedUnread())
        qCInfo(lcBridge).noquote()
            << QStringLiteral(
                   "adapter %1: dropped %2 bytes that came while no client was connected")
                   .arg(m_options.serial)
                   .arg(dropped);
    if (const qint64 stops = m_bridge->receiveStops())
        qCInfo(lcBridge).noquote()
            << QStringLiteral("adapter %1: a client did not read: %2 bytes held at most, reading "
                              "paused %3 times; the adapter went unread %4 times, and then the "
                              "host keeps 63 reports and drops newer ones")
                   .arg(m_options.serial)
                   .arg(m_bridge->heldPeak())
                   .arg(stops)
                   .arg(m_port->readerWaits());
}

void BridgeRunner::onGone() {
    if (!m_port)
        return;
    qCInfo(lcBridge).noquote() << "adapter" << m_options.serial << "is gone";
    close();
    emit adapterGone();
    if (m_options.once) {
        emit ended(QStringLiteral("adapter %1 is gone").arg(m_options.serial));
        return;
    }
    m_returnPoll.start();
}

void BridgeRunner::lookForReturn() {
    if (AdapterFinder(m_adapter).Choose(m_options.serial).What != AdapterFinder::Outcome::Found)
        return;
    m_returnPoll.stop();
    QString error;
    if (!open(&error)) {
        // Back but not usable yet (still settling, or held): look again.
        qCInfo(lcBridge).noquote() << error;
        m_returnPoll.start();
        return;
    }
    qCInfo(lcBridge).noquote() << "adapter" << m_options.serial << "is back";
    emit adapterBack();
}
