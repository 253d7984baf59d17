#include "cli/UartSettingNames.h"

namespace {

QString unknown(int code) {
    return QStringLiteral("code %1").arg(code);
}

} // namespace

QStringList UartSettingNames::ParityNames() {
    return {QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd"),
            QStringLiteral("mark"), QStringLiteral("space")};
}

std::optional<std::uint8_t> UartSettingNames::ParseParity(const QString& text) {
    const qsizetype index = ParityNames().indexOf(text);
    if (index < 0)
        return std::nullopt;
    return std::uint8_t(index);
}

std::optional<std::uint8_t> UartSettingNames::ParseDataBits(const QString& text) {
    for (const char* bits : {"5", "6", "7", "8"}) {
        if (text == QLatin1String(bits))
            return std::uint8_t(bits[0] - '0');
    }
    return std::nullopt;
}

std::optional<CliRequest::StopBits> UartSettingNames::ParseStop(const QString& text) {
    if (text == QLatin1String("1"))
        return CliRequest::StopBits::One;
    if (text == QLatin1String("1.5"))
        return CliRequest::StopBits::OneAndHalf;
    if (text == QLatin1String("2"))
        return CliRequest::StopBits::Two;
    return std::nullopt;
}

std::optional<std::uint8_t> UartSettingNames::ParseFlow(const QString& text) {
    if (text == QLatin1String("none"))
        return std::uint8_t(0);
    if (text == QLatin1String("rtscts"))
        return std::uint8_t(1);
    return std::nullopt;
}

std::optional<std::uint32_t> UartSettingNames::ParseBaud(const QString& text) {
    // Digits only: no sign, no space, no 0x; toULongLong alone would take some of those.
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const qulonglong value = text.toULongLong();
    if (value == 0 || value > 0xFFFFFFFFull)
        return std::nullopt;
    return std::uint32_t(value);
}

UartConfig UartSettingNames::Apply(const UartConfig& current, const CliRequest& request,
                                   QString& error) {
    error.clear();
    UartConfig uart = current;
    if (request.Baud)
        uart.BaudRate = *request.Baud;
    if (request.Parity)
        uart.Parity = *request.Parity;
    if (request.DataBits)
        uart.DataBits = *request.DataBits;
    if (request.Flow)
        uart.FlowControl = *request.Flow;
    if (request.Stop) {
        // One code stands for two stop bits, or for one and a half with 5 data bits.
        switch (*request.Stop) {
        case CliRequest::StopBits::One:
            uart.StopBits = 0;
            break;
        case CliRequest::StopBits::OneAndHalf:
            if (uart.DataBits != 5)
                error = QStringLiteral("1.5 stop bits need 5 data bits");
            uart.StopBits = 1;
            break;
        case CliRequest::StopBits::Two:
            if (uart.DataBits == 5)
                error = QStringLiteral(
                    "2 stop bits cannot go with 5 data bits (the adapter sends 1.5 then)");
            uart.StopBits = 1;
            break;
        }
    }
    return uart;
}

QString UartSettingNames::ParityText(std::uint8_t parity) {
    const QStringList names = ParityNames();
    return parity < names.size() ? names[parity] : unknown(parity);
}

QString UartSettingNames::StopText(const UartConfig& uart) {
    switch (uart.StopBits) {
    case 0:
        return QStringLiteral("1");
    case 1:
        return uart.DataBits == 5 ? QStringLiteral("1.5") : QStringLiteral("2");
    default:
        return unknown(uart.StopBits);
    }
}

QString UartSettingNames::FlowText(std::uint8_t flow) {
    switch (flow) {
    case 0:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("rtscts");
    default:
        return unknown(flow);
    }
}

QString UartSettingNames::Text(const UartConfig& uart) {
    return QStringLiteral("baud %1\nparity %2\ndata %3\nstop %4\nflow %5\n")
        .arg(uart.BaudRate)
        .arg(ParityText(uart.Parity))
        .arg(uart.DataBits)
        .arg(StopText(uart))
        .arg(FlowText(uart.FlowControl));
}

QJsonObject UartSettingNames::Json(const UartConfig& uart) {
    return {{QStringLiteral("baud"), qint64(uart.BaudRate)},
            {QStringLiteral("parity"), ParityText(uart.Parity)},
            {QStringLiteral("data"), int(uart.DataBits)},
            {QStringLiteral("stop"), StopText(uart)},
            {QStringLiteral("flow"), FlowText(uart.FlowControl)}};
}
