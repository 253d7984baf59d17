#pragma once

#include "cli/PinNames.h"
#include "connection/AdapterFinder.h"
#include "device/WendrakeTypes.h"

#include <QByteArray>
#include <QString>

#include <vector>

// What list, pins and fifo print: aligned text lines for people, one line of JSON for scripts.
class CliReports {
public:
    static QByteArray List(const std::vector<AdapterFinder::Entry>& entries, bool json);
    static QByteArray Pins(const std::vector<PinNames::Pin>& pins, std::uint8_t latch,
                           const QString& serial, bool json);
    static QByteArray Fifo(const FifoStatus& counts, const QString& serial, bool json);

    // "ok", "no permission", "in use" or "cannot open".
    static QString AccessWord(const AdapterFinder::Entry& entry);
};
