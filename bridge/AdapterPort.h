#pragma once

#include "device/WendrakeTypes.h"

#include <QByteArray>
#include <QObject>

#include <cstdint>

// The adapter's UART and pins as the bridge uses them: the real one sits on an open adapter
// connection, tests put a fake behind it. Every call comes from the bridge's thread.
class AdapterPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Queues bytes for the adapter's UART, in order. False when the adapter is gone.
    virtual bool writeBytes(const QByteArray& bytes) = 0;
    // Bytes queued by writeBytes that the adapter has not taken yet. The bridge stops reading its
    // client while this is above its bound and resumes on bytesWritten.
    virtual qint64 pendingWrite() const = 0;

    // Up to max received bytes, oldest first. Whatever is not taken stays with the port, which
    // stops reading the adapter when its own queue is full (the adapter's queue then fills).
    virtual QByteArray takeReceived(qint64 max) = 0;

    virtual bool applyLine(const UartConfig& config) = 0;
    virtual UartConfig line() const = 0;
    // Purges the adapter's FIFOs; receive also drops what the port holds, transmit what it
    // still has to write.
    virtual bool purge(bool receive, bool transmit) = 0;
    // Drives the pins of mask to the levels of values (PinLatchBit bits, set = high).
    virtual bool setPins(std::uint8_t values, std::uint8_t mask) = 0;
    virtual bool pinLevels(std::uint8_t* latch) = 0;

signals:
    void bytesReceived();
    void bytesWritten();
    // The adapter was unplugged or failed; the port is of no further use.
    void gone();
};
