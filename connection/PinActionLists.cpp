#include "connection/PinActionLists.h"

bool PinActionLists::UsesFlowControlNames(const std::optional<UartConfig>& uart) {
    return uart && uart->FlowControl != FlowControlNone;
}

PinActionLists::Pin PinActionLists::Gpio(int index, const std::optional<UartConfig>& uart) {
    const QString name = UsesFlowControlNames(uart)
                             ? QString::fromLatin1(index == 0 ? "RTS" : "CTS")
                             : QStringLiteral("GPIO%1").arg(index);
    return {name,
            {"Set " + name + " Logic Low", "Set " + name + " Logic High", "Do Not Write " + name}};
}

PinActionLists::Latch PinActionLists::LatchFor(int gpio0Position, int gpio1Position,
                                               int q3ResetPosition) {
    Latch latch;
    latch.mask = PinLatchBit::Gpio0 | PinLatchBit::Gpio1 | PinLatchBit::Q3Reset;
    const std::pair<int, std::uint8_t> pins[] = {
        {gpio0Position, PinLatchBit::Gpio0},
        {gpio1Position, PinLatchBit::Gpio1},
        {q3ResetPosition, PinLatchBit::Q3Reset},
    };
    for (const auto& [position, bit] : pins) {
        if (position == 1)
            latch.values |= bit;
        else if (position == DoNotWrite)
            latch.mask &= static_cast<std::uint8_t>(~bit);
    }
    return latch;
}
