#include "cli/UartStreamCommand.h"

#include "cli/ExitStatus.h"
#include "connection/AdapterConnection.h"

#include <QFile>
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

UartStreamCommand::UartStreamCommand(HidPlatform& platform, CWendrake& adapter,
                                     const CliRequest& request, Host host,
                                     const std::atomic<bool>& interrupted, QObject* parent)
    : QObject(parent), m_platform(platform), m_adapter(adapter), m_request(request),
      m_host(std::move(host)), m_interrupted(interrupted) {}

UartStreamCommand::~UartStreamCommand() = default;

void UartStreamCommand::Interrupt() {
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
    }
    // recv ends as at the end of its time, short of its count an interruption; send's loop
    // ends when its worker has stopped.
    if (m_request.Command == QLatin1String("recv"))
        m_loop.Finish(recvInterrupted());
}

int UartStreamCommand::recvInterrupted() const {
    return m_request.Count ? ExitStatus::Interrupted : ExitStatus::Ok;
}

void UartStreamCommand::sendWorker(int fd, std::uint32_t reportPayload) {
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
        this, [this] { m_loop.Finish(m_workerStatus); }, Qt::QueuedConnection);
}

int UartStreamCommand::Send(int inputFd) {
    int fd = inputFd;
    const bool ownInput =
        !m_request.InputFile.isEmpty() && m_request.InputFile != QLatin1String("-");
    if (ownInput) {
        fd = ::open(QFile::encodeName(m_request.InputFile).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return m_host.Fail(ExitStatus::FileError,
                               QStringLiteral("cannot read ") + m_request.InputFile +
                                   QStringLiteral(": ") +
                                   QString::fromLocal8Bit(std::strerror(errno)));
    }
    const auto closeInput = qScopeGuard([&] {
        if (ownInput)
            ::close(fd);
    });

    AdapterConnection connection(m_adapter, {});
    int status = ExitStatus::Ok;
    if (!m_host.Open(connection, status)) {
        // --keep keeps settings that were used; these never were, so the adapter's come back.
        connection.Close();
        return status;
    }
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        connection.Close();
        return m_host.Fail(ExitStatus::DeviceFailure, QStringLiteral("cannot make a pipe"));
    }
    const std::uint32_t payload = m_adapter.Device().OutputReportLength() - 1u;
    std::thread worker([this, fd, payload] { sendWorker(fd, payload); });
    const int result = m_loop.Run();
    worker.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
    m_adapter.ResumeWriteUart();

    connection.Close(m_request.Keep);
    if (result == ExitStatus::DeviceFailure)
        return m_host.AdapterFail(m_failureText, ExitStatus::DeviceFailure, m_platform.lastError());
    if (result == ExitStatus::Interrupted)
        return m_host.Fail(ExitStatus::Interrupted,
                           QStringLiteral("interrupted after %1 bytes").arg(m_sent.load()));
    if (result != ExitStatus::Ok)
        return m_host.Fail(result, m_failureText);
    return ExitStatus::Ok;
}

void UartStreamCommand::onReceived(const QByteArray& bytes) {
    if (m_loop.Finished() || bytes.isEmpty())
        return;
    QByteArray chunk = bytes;
    if (m_request.Count && m_written + std::uint64_t(chunk.size()) > *m_request.Count)
        chunk.truncate(qsizetype(*m_request.Count - m_written));
    if (m_output->write(chunk) != chunk.size()) {
        m_failureText =
            QStringLiteral("cannot write the received bytes: ") + m_output->errorString();
        m_loop.Finish(ExitStatus::FileError);
        return;
    }
    m_written += std::uint64_t(chunk.size());
    if (m_request.Count && m_written >= *m_request.Count)
        m_loop.Finish(ExitStatus::Ok);
}

int UartStreamCommand::Recv(QIODevice* out) {
    std::unique_ptr<QFile> file;
    m_output = out;
    if (!m_request.OutputFile.isEmpty()) {
        file = std::make_unique<QFile>(m_request.OutputFile);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return m_host.Fail(ExitStatus::FileError,
                               QStringLiteral("cannot write ") + m_request.OutputFile +
                                   QStringLiteral(": ") + file->errorString());
        m_output = file.get();
    }

    AdapterConnection connection(m_adapter,
                                 [this](const QByteArray& bytes, qint64) { onReceived(bytes); });
    int status = ExitStatus::Ok;
    if (!m_host.Open(connection, status)) {
        // --keep keeps settings that were used; these never were, so the adapter's come back.
        connection.Close();
        return status;
    }

    if (!connection.StartReceiving()) {
        connection.Close();
        return m_host.AdapterFail(QStringLiteral("no memory for the receive buffer"),
                                  ExitStatus::DeviceFailure, m_platform.lastError());
    }

    m_written = 0;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this,
            [this] { m_loop.Finish(m_request.Count ? ExitStatus::TimedOut : ExitStatus::Ok); });
    // An unplugged adapter fails every read, and says so to the pin poll as it does in the
    // window.
    QTimer check;
    check.setInterval(AdapterCheckMs);
    connect(&check, &QTimer::timeout, this, [this] {
        std::uint8_t latch = 0;
        if (m_adapter.GetPinLatch(&latch) != WendrakeOk)
            m_loop.Finish(ExitStatus::DeviceFailure);
    });
    check.start();
    if (m_request.TimeoutSeconds)
        timeout.start(int(*m_request.TimeoutSeconds * 1000.0 + 0.5));
    const int result = m_loop.Run();
    check.stop();
    timeout.stop();
    const std::string reason = m_platform.lastError();
    // The reads taken before the stop reach onReceived, which ignores them once done.
    connection.Close(m_request.Keep);
    if (file)
        file->close();

    switch (result) {
    case ExitStatus::DeviceFailure:
        return m_host.AdapterFail(QStringLiteral("the adapter stopped answering"), result, reason);
    case ExitStatus::TimedOut:
        return m_host.Fail(result, QStringLiteral("%1 of %2 bytes received in %3 s")
                                       .arg(m_written)
                                       .arg(*m_request.Count)
                                       .arg(*m_request.TimeoutSeconds));
    case ExitStatus::FileError:
        return m_host.Fail(result, m_failureText);
    case ExitStatus::Interrupted:
        return m_host.Fail(result, QStringLiteral("interrupted after %1 of %2 bytes")
                                       .arg(m_written)
                                       .arg(*m_request.Count));
    default:
        break;
    }
    return ExitStatus::Ok;
}
