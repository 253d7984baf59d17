#include "cli/CliRunner.h"

#include "bridge/BridgeRunner.h"
#include "bridge/PtyFace.h"
#include "cli/CliReports.h"
#include "cli/ExitStatus.h"
#include "cli/PinNames.h"
#include "cli/UartSettingNames.h"
#include "connection/AdapterAccessDetail.h"
#include "connection/AdapterConnection.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>
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
    if (request.Command == QLatin1String("send"))
        return send();
    if (request.Command == QLatin1String("recv"))
        return recv();
    if (request.Command == QLatin1String("bridge"))
        return bridge();
    return fail(ExitStatus::Usage,
                QStringLiteral("unknown command '") + request.Command + QLatin1Char('\''));
}

void CliRunner::Interrupt() {
    m_interrupted = true;
    m_adapter.StopWriteUart();
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
    }
    // recv and bridge end as at the end of their time; send's loop ends when its worker has
    // stopped.
    if (m_loop && (m_request.Command == QLatin1String("recv") ||
                   m_request.Command == QLatin1String("bridge")))
        finishLoop(ExitStatus::Ok);
}

int CliRunner::fail(int status, const QString& line) {
    if (m_streams.Err)
        m_streams.Err->write((QStringLiteral("wendrake: ") + line + QLatin1Char('\n')).toUtf8());
    return status;
}

int CliRunner::adapterFail(const QString& what, int status) {
    QString line = QStringLiteral("adapter ") + m_adapterName + QStringLiteral(": ") + what;
    const std::string reason = m_platform.lastError();
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

void CliRunner::finishLoop(int status) {
    if (m_done)
        return;
    m_done = true;
    m_loopStatus = status;
    if (m_loop)
        m_loop->quit();
}

void CliRunner::sendWorker(int fd, std::uint32_t reportPayload) {
    // Whole reports per read where the input allows it, so only the last report is short.
    std::vector<std::uint8_t> buffer(std::size_t(reportPayload) * 1024);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            m_workerStatus = ExitStatus::FileError;
            m_failureText = QStringLiteral("cannot wait for the input: ") +
                            QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (m_interrupted) {
            m_workerStatus = ExitStatus::Interrupted;
            break;
        }
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0) {
            m_workerStatus = ExitStatus::FileError;
            m_failureText = QStringLiteral("cannot read the input: ") +
                            QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (got == 0)
            break;
        std::atomic<std::uint32_t> progress{0};
        const WendrakeStatus written =
            m_adapter.WriteUart(buffer.data(), std::uint32_t(got), &progress);
        m_sent += progress;
        if (m_interrupted) {
            m_workerStatus = ExitStatus::Interrupted;
            break;
        }
        if (written != WendrakeOk) {
            m_workerStatus = ExitStatus::DeviceFailure;
            m_failureText = QStringLiteral("sending stopped after %1 bytes").arg(m_sent.load());
            break;
        }
    }
    QMetaObject::invokeMethod(
        this, [this] { finishLoop(m_workerStatus); }, Qt::QueuedConnection);
}

int CliRunner::send() {
    int fd = m_streams.InputFd;
    const bool ownInput =
        !m_request.InputFile.isEmpty() && m_request.InputFile != QLatin1String("-");
    if (ownInput) {
        fd = ::open(QFile::encodeName(m_request.InputFile).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail(ExitStatus::FileError, QStringLiteral("cannot read ") +
                                                   m_request.InputFile + QStringLiteral(": ") +
                                                   QString::fromLocal8Bit(std::strerror(errno)));
    }
    const auto closeInput = qScopeGuard([&] {
        if (ownInput)
            ::close(fd);
    });

    AdapterConnection connection(m_adapter, {});
    int status = ExitStatus::Ok;
    if (!open(connection, status) || !startUart(connection, status)) {
        // --keep keeps settings that were used; these never were, so the adapter's come back.
        connection.Close();
        return status;
    }
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        connection.Close();
        return fail(ExitStatus::DeviceFailure, QStringLiteral("cannot make a pipe"));
    }
    QEventLoop loop;
    m_loop = &loop;
    m_done = false;
    const std::uint32_t payload = m_adapter.Device().OutputReportLength() - 1u;
    std::thread worker([this, fd, payload] { sendWorker(fd, payload); });
    if (!m_done)
        loop.exec();
    worker.join();
    m_loop = nullptr;
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
    m_adapter.ResumeWriteUart();

    connection.Close(m_request.Keep);
    if (m_loopStatus == ExitStatus::DeviceFailure)
        return adapterFail(m_failureText);
    if (m_loopStatus == ExitStatus::Interrupted)
        return fail(ExitStatus::Interrupted,
                    QStringLiteral("interrupted after %1 bytes").arg(m_sent.load()));
    if (m_loopStatus != ExitStatus::Ok)
        return fail(m_loopStatus, m_failureText);
    return ExitStatus::Ok;
}

void CliRunner::onReceived(const QByteArray& bytes) {
    if (m_done || bytes.isEmpty())
        return;
    QByteArray chunk = bytes;
    if (m_request.Count && m_written + std::uint64_t(chunk.size()) > *m_request.Count)
        chunk.truncate(qsizetype(*m_request.Count - m_written));
    if (m_output->write(chunk) != chunk.size()) {
        m_failureText =
            QStringLiteral("cannot write the received bytes: ") + m_output->errorString();
        finishLoop(ExitStatus::FileError);
        return;
    }
    m_written += std::uint64_t(chunk.size());
    if (m_request.Count && m_written >= *m_request.Count)
        finishLoop(ExitStatus::Ok);
}

int CliRunner::recv() {
    std::unique_ptr<QFile> file;
    m_output = m_streams.Out;
    if (!m_request.OutputFile.isEmpty()) {
        file = std::make_unique<QFile>(m_request.OutputFile);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return fail(ExitStatus::FileError, QStringLiteral("cannot write ") +
                                                   m_request.OutputFile + QStringLiteral(": ") +
                                                   file->errorString());
        m_output = file.get();
    }

    AdapterConnection connection(m_adapter,
                                 [this](const QByteArray& bytes, qint64) { onReceived(bytes); });
    int status = ExitStatus::Ok;
    if (!open(connection, status) || !startUart(connection, status)) {
        // --keep keeps settings that were used; these never were, so the adapter's come back.
        connection.Close();
        return status;
    }

    if (!connection.StartReceiving()) {
        connection.Close();
        return adapterFail(QStringLiteral("no memory for the receive buffer"));
    }

    QEventLoop loop;
    m_loop = &loop;
    m_done = false;
    m_written = 0;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this,
            [this] { finishLoop(m_request.Count ? ExitStatus::TimedOut : ExitStatus::Ok); });
    // An unplugged adapter fails every read, and says so to the pin poll as it does in the
    // window.
    QTimer check;
    check.setInterval(AdapterCheckMs);
    connect(&check, &QTimer::timeout, this, [this] {
        std::uint8_t latch = 0;
        if (m_adapter.GetPinLatch(&latch) != WendrakeOk)
            finishLoop(ExitStatus::DeviceFailure);
    });
    check.start();
    if (m_request.TimeoutSeconds)
        timeout.start(int(*m_request.TimeoutSeconds * 1000.0 + 0.5));
    if (!m_interrupted)
        loop.exec();
    m_loop = nullptr;
    check.stop();
    timeout.stop();
    const int result = m_loopStatus;
    const std::string reason = m_platform.lastError();
    // The reads taken before the stop reach onReceived, which ignores them once done.
    connection.Close(m_request.Keep);
    if (file)
        file->close();

    switch (result) {
    case ExitStatus::DeviceFailure:
        return fail(result,
                    QStringLiteral("adapter ") + m_adapterName +
                        QStringLiteral(": the adapter stopped answering") +
                        (reason.empty() ? QString()
                                        : QStringLiteral(" (") + QString::fromStdString(reason) +
                                              QLatin1Char(')')));
    case ExitStatus::TimedOut:
        return fail(result, QStringLiteral("%1 of %2 bytes received in %3 s")
                                .arg(m_written)
                                .arg(*m_request.Count)
                                .arg(*m_request.TimeoutSeconds));
    case ExitStatus::FileError:
        return fail(result, m_failureText);
    default:
        break;
    }
    return ExitStatus::Ok;
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

    QEventLoop loop;
    m_loop = &loop;
    m_loopStatus = ExitStatus::Ok;
    m_done = false;
    QString endReason;
    connect(&runner, &BridgeRunner::ended, this, [&](const QString& reason) {
        endReason = reason;
        finishLoop(ExitStatus::DeviceFailure);
    });
    if (!m_interrupted)
        loop.exec();
    m_loop = nullptr;
    runner.stop();
    if (m_loopStatus != ExitStatus::Ok)
        return fail(m_loopStatus, endReason);
    return ExitStatus::Ok;
}
