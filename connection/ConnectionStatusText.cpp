#include "connection/ConnectionStatusText.h"

namespace {

QString parityText(std::uint8_t parity) {
    switch (parity) {
    case 0:
        return QStringLiteral("No Parity  -  ");
    case 1:
        return QStringLiteral("Even Parity  -  ");
    case 2:
        return QStringLiteral("Odd Parity  -  ");
    case 3:
        return QStringLiteral("Mark Parity  -  ");
    case 4:
        return QStringLiteral("Space Parity  -  ");
    default:
        return QStringLiteral("<Parity Err>  -  ");
    }
}

QString flowControlText(std::uint8_t flowControl) {
    switch (flowControl) {
    case 0:
        return QStringLiteral("No Flow Control  -  ");
    case 1:
        return QStringLiteral("RTS / CTS Flow Control  -  ");
    default:
        return QStringLiteral("<Flow Control Err>  -  ");
    }
}

QString stopBitsText(const UartConfig& uart) {
    switch (uart.StopBits) {
    case 0:
        return QStringLiteral("1 Stop Bit");
    case 1:
        return uart.DataBits == 5 ? QStringLiteral("1.5 Stop Bits") : QStringLiteral("2 Stop Bits");
    default:
        return QStringLiteral("<Stop Bit Err>");
    }
}

} // namespace

QString ConnectionStatusText(const std::optional<UartConfig>& uart) {
    QString text = QStringLiteral("CONNECTED  -  ");
    if (!uart)
        return text + QStringLiteral("<UART Settings Err> - ");
    text += QStringLiteral("%1  -  ").arg(uart->BaudRate);
    text += parityText(uart->Parity);
    text += flowControlText(uart->FlowControl);
    text += QStringLiteral("%1 Data Bits  -  ").arg(unsigned(uart->DataBits));
    text += stopBitsText(*uart);
    return text;
}

QString NotConnectedStatusText(const QString& waitingFor) {
    QString text = QStringLiteral("NOT CONNECTED");
    if (!waitingFor.isEmpty())
        text += QStringLiteral("  -  Waiting for %1 to reconnect").arg(waitingFor);
    return text;
}
