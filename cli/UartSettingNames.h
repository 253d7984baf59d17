#pragma once

#include "cli/CliRequest.h"
#include "device/WendrakeTypes.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// The words of the command line for the UART settings record, both ways: parsing the option
// values, applying them to a record, and showing a record as text or JSON.
class UartSettingNames {
public:
    static QStringList ParityNames();
    static std::optional<std::uint8_t> ParseParity(const QString& text);
    static std::optional<std::uint8_t> ParseDataBits(const QString& text);
    static std::optional<CliRequest::StopBits> ParseStop(const QString& text);
    static std::optional<std::uint8_t> ParseFlow(const QString& text);
    // A whole number from 1 to 2^32 - 1, decimal digits only.
    static std::optional<std::uint32_t> ParseBaud(const QString& text);

    // The record with the request's settings applied; an empty error when they fit together,
    // else the one line saying why not.
    static UartConfig Apply(const UartConfig& current, const CliRequest& request, QString& error);

    static QString ParityText(std::uint8_t parity);
    static QString StopText(const UartConfig& uart);
    static QString FlowText(std::uint8_t flow);
    // "baud 115200\nparity none\n..." one setting a line.
    static QString Text(const UartConfig& uart);
    static QJsonObject Json(const UartConfig& uart);
};
