#pragma once

#include "emulator/AdapterFirmware.h"

#include <cstdint>

// An emulated adapter's own UART configuration, as the tests set and compare it.
inline AdapterFirmware::UartSettings uart(std::uint32_t baud, std::uint8_t parity,
                                          std::uint8_t flow, std::uint8_t dataBits,
                                          std::uint8_t stopBits) {
    AdapterFirmware::UartSettings settings;
    settings.BaudRate = baud;
    settings.Parity = parity;
    settings.FlowControl = flow;
    settings.DataBits = dataBits;
    settings.StopBits = stopBits;
    return settings;
}
