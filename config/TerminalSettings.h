#pragma once

#include "device/WendrakeTypes.h"

#include <cstdint>

// The persisted settings record; one value lives in the terminal session.
struct TerminalSettings {
    UartConfig Uart; // 115200 baud, no parity, no flow control, 8 data bits, 1 stop bit
    PinConfig Pins;  // four zero bytes
    std::int32_t ToggleResetOnConnect = 1;
    std::int32_t ClearSentTransferData = 1;
    std::int32_t AutoSendTransferText = 0;

    bool operator==(const TerminalSettings&) const = default;
};
