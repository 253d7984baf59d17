#pragma once

#include "bridge/AdapterPort.h"

#include <QByteArray>
#include <QList>
#include <QPair>

// An adapter port for bridge tests: records every write, line, purge and pin change in order,
// hands out injected bytes, and in loopback mode receives what it is sent (the demo adapter's
// wiring). With a receive limit it keeps at most that many bytes and counts the rest dropped.
class FakeAdapterPort : public AdapterPort {
    Q_OBJECT
public:
    struct PinWrite {
        std::uint8_t values;
        std::uint8_t mask;
        bool operator==(const PinWrite&) const = default;
    };
    struct Purge {
        bool receive;
        bool transmit;
        bool operator==(const Purge&) const = default;
    };

    using AdapterPort::AdapterPort;

    bool loopback = false;
    qint64 receiveLimit = -1;
    // While set, written bytes stay pending until drainWrites().
    bool holdWrites = false;

    QByteArray written;
    // The adapter's rate at each write, in order.
    QList<std::uint32_t> rateAtWrite;
    QList<UartConfig> lines;
    QList<Purge> purges;
    QList<PinWrite> pinWrites;
    std::uint8_t latch = 0x1F;
    UartConfig current;
    QByteArray received;
    qint64 dropped = 0;
    qint64 pending = 0;

    void inject(const QByteArray& bytes);
    void drainWrites();

    bool writeBytes(const QByteArray& bytes) override;
    qint64 pendingWrite() const override { return pending; }
    QByteArray takeReceived(qint64 max) override;
    bool applyLine(const UartConfig& config) override;
    UartConfig line() const override { return current; }
    bool purge(bool receive, bool transmit) override;
    bool setPins(std::uint8_t values, std::uint8_t mask) override;
    bool pinLevels(std::uint8_t* levels) override;
};
