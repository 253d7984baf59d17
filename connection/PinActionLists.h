#pragma once

#include "device/WendrakeTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The pin action lists of the window: the entries and labels of the two GPIO lists (RTS and CTS
// while the UART uses flow control, the GPIO names otherwise or when the configuration cannot
// be read), which pins may be set, and the latch write their positions make.
class PinActionLists {
public:
    // The position that leaves a pin alone, also the one shown while not connected.
    static constexpr int DoNotWrite = 2;

    struct Pin {
        QString label;
        QStringList entries;
    };
    struct Latch {
        std::uint8_t values = 0;
        std::uint8_t mask = 0;
    };

    static bool UsesFlowControlNames(const std::optional<UartConfig>& uart);
    // GPIO0 (index 0, RTS with flow control) or GPIO1 (index 1, CTS).
    static Pin Gpio(int index, const std::optional<UartConfig>& uart);
    // Pin output modes whose level the terminal may set: GPIO open drain and push-pull.
    static bool IsGpioOutput(std::uint8_t mode) {
        return mode == PinMode::GpioOpenDrain || mode == PinMode::GpioPushPull;
    }
    // Position 1 drives the pin high, DoNotWrite leaves it alone; 0 or no selection drives it
    // low.
    static Latch LatchFor(int gpio0Position, int gpio1Position, int q3ResetPosition);
};
