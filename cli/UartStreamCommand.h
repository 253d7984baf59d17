#pragma once

#include "cli/CliRequest.h"
#include "cli/CommandLoop.h"
#include "device/CWendrake.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class AdapterConnection;

// send and recv: streams bytes between the adapter's UART and a file or the standard streams.
class UartStreamCommand : public QObject {
    Q_OBJECT
public:
    // What the command takes from its runner: the adapter's opening and the lines of a failure.
    struct Host {
        // Chooses and opens the adapter and starts its UART; false with status set (the line
        // written) on a failure.
        std::function<bool(AdapterConnection& connection, int& status)> Open;
        // Writes "wendrake: <line>" and returns status.
        std::function<int(int status, const QString& line)> Fail;
        // "adapter SERIAL: <what>", with the system's reason when it has one.
        std::function<int(const QString& what, int status, const std::string& reason)> AdapterFail;
    };

    // How often recv asks the adapter for its pin levels, to notice that it is gone.
    static constexpr int AdapterCheckMs = 200;

    UartStreamCommand(HidPlatform& platform, CWendrake& adapter, const CliRequest& request,
                      Host host, const std::atomic<bool>& interrupted, QObject* parent = nullptr);
    ~UartStreamCommand() override;

    // Both block until the command is done, running an event loop meanwhile; one of them, once.
    int Send(int inputFd);
    int Recv(QIODevice* out);

    // After the runner's interrupted flag is set: wakes send's worker, ends recv as at its end
    // (an interruption when --count was given and not reached).
    void Interrupt();

private:
    // recv's status when Ctrl-C or SIGTERM ends it.
    int recvInterrupted() const;
    void onReceived(const QByteArray& bytes);
    void sendWorker(int fd, std::uint32_t reportPayload);

    HidPlatform& m_platform;
    CWendrake& m_adapter;
    const CliRequest& m_request;
    Host m_host;
    const std::atomic<bool>& m_interrupted;

    // Finished by Interrupt (recv), the send worker, recv's count, time, adapter check or output.
    CommandLoop m_loop;
    int m_wake[2] = {-1, -1}; // wakes the send worker's wait for input
    // recv
    QIODevice* m_output = nullptr;
    std::uint64_t m_written = 0;
    // send: the bytes sent and the worker's status
    std::atomic<std::uint64_t> m_sent{0};
    int m_workerStatus = 0;
    // The line of a failure of the send worker or of recv's output.
    QString m_failureText;
};
