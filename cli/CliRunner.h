#pragma once

#include "cli/CliRequest.h"
#include "cli/CommandLoop.h"
#include "cli/UartStreamCommand.h"
#include "connection/AdapterFinder.h"
#include "device/CWendrake.h"

#include <QIODevice>
#include <QObject>
#include <QString>

#include <atomic>
#include <string>

class AdapterConnection;

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
    static constexpr int AdapterCheckMs = UartStreamCommand::AdapterCheckMs;

    CliRunner(HidPlatform& platform, Streams streams, QObject* parent = nullptr);
    ~CliRunner() override;

    // Blocks until the command is done (send and recv run an event loop meanwhile).
    int Run(const CliRequest& request);

public slots:
    // Ctrl-C or SIGTERM: recv ends as at its end (an interruption short of --count); send stops
    // before its next report. The adapter's settings are written back either way.
    void Interrupt();

private:
    int list();
    int config();
    int pins();
    int fifo();
    // send and recv
    int stream();
    int bridge();

    // Chooses and opens the adapter; false with status set (the line written) on a failure.
    bool open(AdapterConnection& connection, int& status);
    // After open: the UART started and the request's settings applied.
    bool startUart(AdapterConnection& connection, int& status);
    int fail(int status, const QString& line);
    // "adapter SERIAL: <what>", with the system's reason when it has one.
    int adapterFail(const QString& what, int status = 1);
    int adapterFail(const QString& what, int status, const std::string& reason);
    void print(const QString& text);
    void printJson(const QJsonObject& object);

    HidPlatform& m_platform;
    Streams m_streams;
    CWendrake m_adapter;
    AdapterFinder m_finder{m_adapter};
    CliRequest m_request;
    QString m_adapterName;

    std::atomic<bool> m_interrupted{false};
    // send and recv while they run
    UartStreamCommand* m_stream = nullptr;
    // bridge; Interrupt ends it also before it runs
    CommandLoop m_bridgeLoop;
};
