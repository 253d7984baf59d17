#include "bridge/BridgeRunner.h"

#include "bridge/AdapterUartPort.h"
#include "bridge/BridgeLog.h"
#include "bridge/PtyFace.h"
#include "device/CWendrake.h"

#include <string>

namespace {
int findSerial(CWendrake& adapter, const QString& serial) {
    const unsigned count = adapter.GetDeviceCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string found;
        if (adapter.GetSerialString(i, found) == HidOk && QString::fromLatin1(found) == serial)
            return int(i);
    }
    return -1;
}
} // namespace

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
    const int index = findSerial(m_adapter, m_options.serial);
    if (index < 0)
        return fail(QStringLiteral("adapter %1 is not attached").arg(m_options.serial));
    if (m_adapter.Connect(unsigned(index)) != WendrakeOk)
        return fail(QStringLiteral("adapter %1 could not be opened").arg(m_options.serial));
    UartConfig line;
    if (m_adapter.GetUartConfig(&line) != WendrakeOk)
        return fail(QStringLiteral("adapter %1: its UART settings could not be read")
                        .arg(m_options.serial));
    m_saved = line;
    if (m_adapter.EnableUart() != WendrakeOk)
        return fail(
            QStringLiteral("adapter %1: its UART could not be enabled").arg(m_options.serial));
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
    if (m_port)
        m_port->stop();
    m_bridge.reset();
    m_port.reset();
    if (m_adapter.IsConnected()) {
        m_adapter.DisableUart();
        if (m_saved && !m_options.keepSettings)
            m_adapter.SetUartConfig(&*m_saved);
        m_adapter.Disconnect();
    }
    m_saved.reset();
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
    if (findSerial(m_adapter, m_options.serial) < 0)
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
