#include "cli/CliRunner.h"

#include "bridge/BridgeRunner.h"
#include "bridge/PtyFace.h"
#include "cli/CliReports.h"
#include "cli/ExitStatus.h"
#include "cli/PinNames.h"
#include "cli/UartSettingNames.h"
#include "cli/UartStreamCommand.h"
#include "connection/AdapterAccessDetail.h"
#include "connection/AdapterConnection.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

#include <vector>

namespace {

// "The adapter refused the connection." as part of a line: "the adapter refused the connection".
QString inLine(QString sentence) {
    if (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toLower();
    return sentence;
}

int statusFor(const AdapterFinder::Choice& choice) {
    switch (choice.What) {
    case AdapterFinder::Outcome::Found:
        return ExitStatus::Ok;
    case AdapterFinder::Outcome::NoAdapter:
    case AdapterFinder::Outcome::NotFound:
        return ExitStatus::NoAdapter;
    case AdapterFinder::Outcome::Several:
        return ExitStatus::Usage;
    case AdapterFinder::Outcome::Inaccessible:
        break;
    }
    switch (choice.Adapter.Problem->Why) {
    case HidAccessProblem::Reason::Permission:
        return ExitStatus::NoPermission;
    case HidAccessProblem::Reason::InUse:
        return ExitStatus::InUse;
    case HidAccessProblem::Reason::Other:
        break;
    }
    return ExitStatus::DeviceFailure;
}

} // namespace

CliRunner::CliRunner(HidPlatform& platform, Streams streams, QObject* parent)
    : QObject(parent), m_platform(platform), m_streams(streams), m_adapter(platform) {}

CliRunner::~CliRunner() = default;

int CliRunner::Run(const CliRequest& request) {
    m_request = request;
    if (request.Command == QLatin1String("list"))
        return list();
    if (request.Command == QLatin1String("config"))
        return config();
    if (request.Command == QLatin1String("pins"))
        return pins();
    if (request.Command == QLatin1String("fifo"))
        return fifo();
    if (request.Command == QLatin1String("send") || request.Command == QLatin1String("recv"))
        return stream();
    if (request.Command == QLatin1String("bridge"))
        return bridge();
    return fail(ExitStatus::Usage,
                QStringLiteral("unknown command '") + request.Command + QLatin1Char('\''));
}

void CliRunner::Interrupt() {
    m_interrupted = true;
    m_adapter.StopWriteUart();
    if (m_stream)
        m_stream->Interrupt();
    // The bridge ends as at the end of its time.
    if (m_request.Command == QLatin1String("bridge"))
        m_bridgeLoop.Finish(ExitStatus::Ok);
}

int CliRunner::fail(int status, const QString& line) {
    if (m_streams.Err)
        m_streams.Err->write((QStringLiteral("wendrake: ") + line + QLatin1Char('\n')).toUtf8());
    return status;
}

int CliRunner::adapterFail(const QString& what, int status) {
    return adapterFail(what, status, m_platform.lastError());
}

int CliRunner::adapterFail(const QString& what, int status, const std::string& reason) {
    QString line = QStringLiteral("adapter ") + m_adapterName + QStringLiteral(": ") + what;
    if (!reason.empty())
        line += QStringLiteral(" (") + QString::fromStdString(reason) + QLatin1Char(')');
    return fail(status, line);
}

void CliRunner::print(const QString& text) {
    if (m_streams.Out)
        m_streams.Out->write(text.toUtf8());
}

void CliRunner::printJson(const QJsonObject& object) {
    if (m_streams.Out)
        m_streams.Out->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

bool CliRunner::open(AdapterConnection& connection, int& status) {
    const AdapterFinder::Choice choice = m_finder.Choose(m_request.Serial);
    if (choice.What != AdapterFinder::Outcome::Found) {
        status = fail(statusFor(choice), choice.Message);
        return false;
    }
    m_adapterName = choice.Adapter.HasSerial ? choice.Adapter.Serial : choice.Adapter.Path;
    const WendrakeStatus opened = connection.Open(unsigned(choice.Adapter.Index));
    if (opened == WendrakeOk)
        return true;
    connection.Close(true);
    if (opened == WendrakeOpenFailed) {
        // Taken by another program, or unplugged, since the look above: say which.
        const AdapterFinder::Choice again = m_finder.Choose(m_request.Serial);
        if (again.What != AdapterFinder::Outcome::Found) {
            status = fail(statusFor(again), again.Message);
            return false;
        }
    }
    status = adapterFail(inLine(AdapterAccessDetail::StatusText(opened)));
    return false;
}

bool CliRunner::startUart(AdapterConnection& connection, int& status) {
    switch (connection.StartUart(false)) {
    case AdapterConnection::UartResult::NotEnabled:
        status = adapterFail(QStringLiteral("the UART could not be enabled"));
        return false;
    case AdapterConnection::UartResult::Started:
        break;
    }
    const std::optional<UartConfig> found = connection.SavedUartConfig();
    if (!found) {
        status = adapterFail(QStringLiteral("the UART settings could not be read"));
        return false;
    }
    QString error;
    const UartConfig uart = UartSettingNames::Apply(*found, m_request, error);
    if (!error.isEmpty()) {
        status = fail(ExitStatus::Usage, error);
        return false;
    }
    // Written also when nothing was given: the adapter's own settings, flow control included,
    // as the window writes its settings once the UART runs.
    if (m_adapter.SetUartConfig(&uart) != WendrakeOk) {
        status = adapterFail(QStringLiteral("the UART settings could not be set"));
        return false;
    }
    return true;
}

// ---- list -------------------------------------------------------------------------------------

int CliRunner::list() {
    const std::vector<AdapterFinder::Entry> entries = m_finder.List();
    if (m_streams.Out)
        m_streams.Out->write(CliReports::List(entries, m_request.Json));
    if (entries.empty())
        return fail(ExitStatus::NoAdapter,
                    QStringLiteral("no Wendrake adapter (USB e7a2:4d15) is attached"));
    return ExitStatus::Ok;
}

// ---- config, pins, fifo: the handshake and the commands, no UART ------------------------------

int CliRunner::config() {
    AdapterConnection connection(m_adapter, {});
    int status = ExitStatus::Ok;
    if (!open(connection, status))
        return status;
    UartConfig uart;
    if (m_adapter.GetUartConfig(&uart) != WendrakeOk)
        return adapterFail(QStringLiteral("the UART settings could not be read"));
    if (m_request.ChangesUart()) {
        QString error;
        const UartConfig wanted = UartSettingNames::Apply(uart, m_request, error);
        if (!error.isEmpty())
            return fail(ExitStatus::Usage, error);
        if (m_adapter.SetUartConfig(&wanted) != WendrakeOk)
            return adapterFail(QStringLiteral("the UART settings could not be set"));
        // What the adapter took, not what was asked.
        if (m_adapter.GetUartConfig(&uart) != WendrakeOk)
            return adapterFail(QStringLiteral("the UART settings could not be read"));
    }
    if (m_request.Json) {
        QJsonObject object = UartSettingNames::Json(uart);
        object.insert(QStringLiteral("serial"), m_adapterName);
        printJson(object);
    } else {
        print(UartSettingNames::Text(uart));
    }
    return ExitStatus::Ok;
}

int CliRunner::pins() {
    AdapterConnection connection(m_adapter, {});
    int status = ExitStatus::Ok;
    if (!open(connection, status))
        return status;
    PinConfig config;
    if (m_adapter.GetPinConfig(&config) != WendrakeOk)
        return adapterFail(QStringLiteral("the pin configuration could not be read"));
    // The window names GPIO0 and GPIO1 after flow control only when it could read the settings.
    UartConfig uart;
    const bool flowControl = m_adapter.GetUartConfig(&uart) == WendrakeOk && uart.FlowControl != 0;
    const std::vector<PinNames::Pin> pins = PinNames::Pins(config, flowControl);

    if (!m_request.PinSets.empty()) {
        std::uint8_t values = 0;
        std::uint8_t mask = 0;
        for (const auto& [bit, high] : m_request.PinSets) {
            for (const PinNames::Pin& pin : pins) {
                if (pin.Bit == bit && !pin.Writable)
                    return fail(ExitStatus::Usage,
                                QStringLiteral("adapter ") + m_adapterName + QStringLiteral(": ") +
                                    pin.Name + QStringLiteral(" is not an output (") + pin.Mode +
                                    QStringLiteral("); nothing was set"));
            }
            mask |= bit;
            values = high ? std::uint8_t(values | bit) : std::uint8_t(values & ~bit);
        }
        if (m_adapter.SetPinLatch(values, mask) != WendrakeOk)
            return adapterFail(QStringLiteral("pin states could not be set"));
    }

    std::uint8_t latch = 0;
    if (m_adapter.GetPinLatch(&latch) != WendrakeOk)
        return adapterFail(QStringLiteral("the pin levels could not be read"));
    if (m_streams.Out)
        m_streams.Out->write(CliReports::Pins(pins, latch, m_adapterName, m_request.Json));
    return ExitStatus::Ok;
}

int CliRunner::fifo() {
    AdapterConnection connection(m_adapter, {});
    int status = ExitStatus::Ok;
    if (!open(connection, status))
        return status;
    if (m_request.PurgeFifo) {
        // The first flag is the transmit FIFO, the second the receive FIFO.
        const CliRequest::Purge purge = *m_request.PurgeFifo;
        if (m_adapter.PurgeFifo(purge != CliRequest::Purge::Rx, purge != CliRequest::Purge::Tx) !=
            WendrakeOk)
            return adapterFail(QStringLiteral("FIFO could not be purged"));
    }
    FifoStatus counts;
    if (m_adapter.GetFifoStatus(&counts) != WendrakeOk)
        return adapterFail(QStringLiteral("FIFO status could not be retrieved"));
    if (m_streams.Out)
        m_streams.Out->write(CliReports::Fifo(counts, m_adapterName, m_request.Json));
    return ExitStatus::Ok;
}

// ---- send and recv: the whole connect sequence, and the settings back at the end ---------------

int CliRunner::stream() {
    UartStreamCommand::Host host;
    host.Open = [this](AdapterConnection& connection, int& status) {
        return open(connection, status) && startUart(connection, status);
    };
    host.Fail = [this](int status, const QString& line) { return fail(status, line); };
    host.AdapterFail = [this](const QString& what, int status, const std::string& reason) {
        return adapterFail(what, status, reason);
    };
    UartStreamCommand command(m_platform, m_adapter, m_request, std::move(host), m_interrupted);
    m_stream = &command;
    const auto forget = qScopeGuard([this] { m_stream = nullptr; });
    if (m_request.Command == QLatin1String("send"))
        return command.Send(m_streams.InputFd);
    return command.Recv(m_streams.Out);
}

// ---- bridge -----------------------------------------------------------------------------------

int CliRunner::bridge() {
    const AdapterFinder::Choice choice = m_finder.Choose(m_request.Serial);
    if (choice.What != AdapterFinder::Outcome::Found)
        return fail(statusFor(choice), choice.Message);
    m_adapterName = choice.Adapter.HasSerial ? choice.Adapter.Serial : choice.Adapter.Path;
    // Settings that cannot be applied are a usage error before anything is opened.
    QString error;
    UartSettingNames::Apply(UartConfig{}, m_request, error);
    if (!error.isEmpty())
        return fail(ExitStatus::Usage, error);

    BridgeRunner::Options options;
    options.serial = choice.Adapter.Serial;
    options.linkPath = m_request.LinkPath.isEmpty()
                           ? PtyFace::defaultLinkPath(choice.Adapter.Serial)
                           : m_request.LinkPath;
    options.rfc2217 = m_request.Rfc2217;
    if (!m_request.Rfc2217Address.isEmpty())
        options.address = QHostAddress(m_request.Rfc2217Address);
    options.port = m_request.Rfc2217Port;
    options.keepUnread = m_request.KeepUnread;
    options.once = m_request.Once;
    options.keepSettings = m_request.Keep;
    if (m_request.RtsPin)
        options.pins.rts = *m_request.RtsPin;
    if (m_request.DtrPin)
        options.pins.dtr = *m_request.DtrPin;
    const CliRequest request = m_request;
    options.startSettings = [request](const UartConfig& found) {
        QString ignored;
        return UartSettingNames::Apply(found, request, ignored);
    };

    BridgeRunner runner(m_adapter, options);
    if (!runner.start(&error))
        return fail(ExitStatus::DeviceFailure, error);
    // Where the clients find it, for people and scripts.
    QString where =
        QStringLiteral("bridge ") + m_adapterName + QStringLiteral(": ") + runner.pty()->linkPath();
    if (runner.rfc2217())
        where += QStringLiteral(" rfc2217://%1:%2")
                     .arg(options.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QLatin1Char('[') + options.address.toString() + QLatin1Char(']')
                              : options.address.toString())
                     .arg(runner.rfc2217()->serverPort());
    print(where + QLatin1Char('\n'));

    QString endReason;
    connect(&runner, &BridgeRunner::ended, this, [&](const QString& reason) {
        endReason = reason;
        m_bridgeLoop.Finish(ExitStatus::DeviceFailure);
    });
    const int status = m_bridgeLoop.Run();
    runner.stop();
    if (status != ExitStatus::Ok)
        return fail(status, endReason);
    return ExitStatus::Ok;
}
