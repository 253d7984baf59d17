#pragma once

#include <QObject>
#include <QString>

// One way in for a client of the bridge (the pty or the network). The face owns its client;
// the bridge decides which face holds the adapter and moves the received bytes to it.
class BridgeFace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Hands bytes from the adapter to the client without blocking; returns how many it took.
    // The face signals readyForMore when it can take again after taking less than offered.
    virtual qint64 deliver(const char* data, qint64 size) = 0;
    // Stops or resumes reading the client while the adapter's write queue is full.
    virtual void setReadingPaused(bool paused) = 0;
    // Who holds the adapter through this face, for the message to a refused client.
    virtual QString clientDescription() const = 0;

signals:
    void readyForMore();
};
