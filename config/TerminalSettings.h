#pragma once

#include "device/WendrakeTypes.h"

#include <cstdint>

// The persisted settings record; one value lives in the terminal window.
struct TerminalSettings {
    UartConfig Uart;  // 115200 baud, no parity, no flow control, 8 data bits, 1 stop bit
    PinConfig Pins;   // four zero bytes
    std::int32_t ToggleResetOnConnect = 1;
    std::int32_t ClearSentTransferData = 1;
    std::int32_t AutoSendTransferText = 0;

    bool operator==(const TerminalSettings&) const = default;
};

// Menu items whose check marks mirror the two send options.
inline constexpr int MenuClearSentTransferData = 32781;
inline constexpr int MenuAutoSendTransferText = 32782;
