#pragma once

#include "device/WendrakeTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The adapter's pins as the window names them (GPIO0 and GPIO1 become RTS and CTS with flow
// control on), their latch bits, their modes in the settings dialog's words, and which of them
// may be driven.
class PinNames {
public:
    struct Pin {
        QString Name;
        std::uint8_t Bit = 0;
        QString Mode; // empty for the pins without a mode
        bool Writable = false;
    };

    // Every pin in latch bit order, for the adapter's pin and UART configuration.
    static std::vector<Pin> Pins(const PinConfig& pins, bool flowControl);
    // The latch bit of a name as given on the command line: case and the characters " -_" do
    // not matter ("q3reset", "Q3-Reset"), and RTS and CTS name GPIO0 and GPIO1.
    static std::optional<std::uint8_t> BitOf(const QString& name);
    // "GPIO0, GPIO1, Q3 Reset, Suspend, VPPCTL"
    static QString NameList();

    static QString Gpio0ModeText(std::uint8_t mode);
    static QString Gpio1ModeText(std::uint8_t mode);
};
