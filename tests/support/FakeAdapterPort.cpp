#include "tests/support/FakeAdapterPort.h"

#include <algorithm>

void FakeAdapterPort::inject(const QByteArray& bytes) {
    qint64 keep = bytes.size();
    if (receiveLimit >= 0)
        keep = std::clamp<qint64>(receiveLimit - received.size(), 0, bytes.size());
    received.append(bytes.left(keep));
    dropped += bytes.size() - keep;
    if (keep > 0)
        emit bytesReceived();
}

void FakeAdapterPort::drainWrites() {
    pending = 0;
    emit bytesWritten();
}

bool FakeAdapterPort::writeBytes(const QByteArray& bytes) {
    written.append(bytes);
    rateAtWrite.append(current.BaudRate);
    if (holdWrites)
        pending += bytes.size();
    if (loopback)
        inject(bytes);
    return true;
}

QByteArray FakeAdapterPort::takeReceived(qint64 max) {
    const QByteArray taken = received.left(max);
    received.remove(0, taken.size());
    return taken;
}

bool FakeAdapterPort::applyLine(const UartConfig& config) {
    current = config;
    lines.append(config);
    return true;
}

bool FakeAdapterPort::purge(bool receive, bool transmit) {
    purges.append({receive, transmit});
    if (receive)
        received.clear();
    return true;
}

bool FakeAdapterPort::setPins(std::uint8_t values, std::uint8_t mask) {
    pinWrites.append({values, mask});
    latch = static_cast<std::uint8_t>((latch & ~mask) | (values & mask));
    return true;
}

bool FakeAdapterPort::pinLevels(std::uint8_t* levels) {
    *levels = latch;
    return true;
}
