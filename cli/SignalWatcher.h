#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGINT and SIGTERM into a signal on the event loop's thread, so that a command can end
// with the adapter's settings written back instead of dying in the middle.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalled(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    static int s_pipe[2];
    std::unique_ptr<QSocketNotifier> m_notifier;
};
