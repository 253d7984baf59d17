#include "cli/PinNames.h"

namespace {

QString normalised(const QString& name) {
    QString text = name.toLower();
    text.remove(QLatin1Char(' '));
    text.remove(QLatin1Char('-'));
    text.remove(QLatin1Char('_'));
    return text;
}

// Output modes: open drain and push-pull; the others are inputs or belong to flow control.
bool isGpioOutput(std::uint8_t mode) {
    return mode == 1 || mode == 2;
}

} // namespace

QString PinNames::Gpio0ModeText(std::uint8_t mode) {
    static const char* const names[] = {"GPIO Input Pin", "GPIO Output - Open Drain",
                                        "GPIO Output - Push-Pull", "RTS - Push-Pull",
                                        "RTS - Open Drain"};
    return mode < std::size(names) ? QString::fromLatin1(names[mode])
                                   : QStringLiteral("mode %1").arg(mode);
}

QString PinNames::Gpio1ModeText(std::uint8_t mode) {
    static const char* const names[] = {"GPIO Input Pin", "GPIO Output - Open Drain",
                                        "GPIO Output - Push-Pull", "CTS Input Pin"};
    return mode < std::size(names) ? QString::fromLatin1(names[mode])
                                   : QStringLiteral("mode %1").arg(mode);
}

std::vector<PinNames::Pin> PinNames::Pins(const PinConfig& pins, bool flowControl) {
    return {
        {flowControl ? QStringLiteral("RTS") : QStringLiteral("GPIO0"), PinLatchBit::Gpio0,
         Gpio0ModeText(pins.Gpio0Mode), isGpioOutput(pins.Gpio0Mode)},
        {flowControl ? QStringLiteral("CTS") : QStringLiteral("GPIO1"), PinLatchBit::Gpio1,
         Gpio1ModeText(pins.Gpio1Mode), isGpioOutput(pins.Gpio1Mode)},
        {QStringLiteral("Q3 Reset"), PinLatchBit::Q3Reset, {}, true},
        {QStringLiteral("Suspend"), PinLatchBit::Suspend, {}, true},
        {QStringLiteral("VPPCTL"), PinLatchBit::Vppctl, {}, true},
    };
}

std::optional<std::uint8_t> PinNames::BitOf(const QString& name) {
    const QString key = normalised(name);
    const std::pair<const char*, std::uint8_t> names[] = {
        {"gpio0", PinLatchBit::Gpio0},     {"rts", PinLatchBit::Gpio0},
        {"gpio1", PinLatchBit::Gpio1},     {"cts", PinLatchBit::Gpio1},
        {"q3reset", PinLatchBit::Q3Reset}, {"suspend", PinLatchBit::Suspend},
        {"vppctl", PinLatchBit::Vppctl},
    };
    for (const auto& [known, bit] : names) {
        if (key == QLatin1String(known))
            return bit;
    }
    return std::nullopt;
}

QString PinNames::NameList() {
    return QStringLiteral("GPIO0, GPIO1, Q3 Reset, Suspend, VPPCTL");
}
