#pragma once

#include "cli/CliRequest.h"
#include "connection/AdapterFinder.h"
#include "device/CWendrake.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

class AdapterConnection;
class QEventLoop;

// Runs one request of wendrake on the adapters of a HID platform: chooses the adapter, opens it
// with the window's handshakes, does the command and tears the connection down in the window's
// order. Every failure ends in one line on the error stream and a status of ExitStatus.
class CliRunner : public QObject {
    Q_OBJECT
public:
    struct Streams {
        int InputFd = 0;          // send's standard input
        QIODevice* Out = nullptr; // results, and recv's bytes without -o
        QIODevice* Err = nullptr; // the one line of a failure
    };

    // How often recv asks the adapter for its pin levels, to notice that it is gone.
    static constexpr int AdapterCheckMs = 200;

    CliRunner(HidPlatform& platform, Streams streams, QObject* parent = nullptr);
    ~CliRunner() override;

    // Blocks until the command is done (send and recv run an event loop meanwhile).
    int Run(const CliRequest& request);

public slots:
    // Ctrl-C or SIGTERM: recv ends as at its end; send stops before its next report. The
    // adapter's settings are written back either way.
    void Interrupt();

private:
    int list();
    int config();
    int pins();
    int fifo();
    int send();
    int recv();
    int bridge();

    // Chooses and opens the adapter; false with status set (the line written) on a failure.
    bool open(AdapterConnection& connection, int& status);
    // After open: the UART started and the request's settings applied.
    bool startUart(AdapterConnection& connection, int& status);
    int fail(int status, const QString& line);
    // "adapter SERIAL: <what>", with the system's reason when it has one.
    int adapterFail(const QString& what, int status = 1);
    void print(const QString& text);
    void printJson(const QJsonObject& object);
    void onReceived(const QByteArray& bytes);
    void finishLoop(int status);
    void sendWorker(int fd, std::uint32_t reportPayload);

    HidPlatform& m_platform;
    Streams m_streams;
    CWendrake m_adapter;
    AdapterFinder m_finder{m_adapter};
    CliRequest m_request;
    QString m_adapterName;

    // send and recv
    QEventLoop* m_loop = nullptr;
    int m_loopStatus = 0;
    std::atomic<bool> m_interrupted{false};
    int m_wake[2] = {-1, -1}; // wakes the send worker's wait for input
    // recv
    QIODevice* m_output = nullptr;
    std::uint64_t m_written = 0;
    bool m_done = false;
    // send: the bytes sent and the worker's status
    std::atomic<std::uint64_t> m_sent{0};
    int m_workerStatus = 0;
    // The line of a failure of the send worker or of recv's output.
    QString m_failureText;
};
