#pragma once

#include "device/WendrakeTypes.h"

#include <cstdint>
#include <optional>

class QComboBox;
class QLabel;
class QWidget;

// The pin area of the terminal window: the GPIO0, GPIO1 and Q3 Reset action lists and the level
// texts. Connected, the lists follow the adapter's UART and pin configuration; not connected,
// they show "Do Not Write", disabled, under the GPIO names.
class PinPanel {
public:
    // Finds its controls among the window's by their template ids.
    explicit PinPanel(const QWidget* window);

    void showConnected(const std::optional<UartConfig>& uart, const std::optional<PinConfig>& pins);
    void showDisconnected();
    // Only the three level texts: the other controls may be in the user's hands.
    void showLevels(std::uint8_t latch);

private:
    QComboBox* m_gpio0Action;
    QComboBox* m_gpio1Action;
    QComboBox* m_q3ResetAction;
    QLabel* m_gpio0Label;
    QLabel* m_gpio0State;
    QLabel* m_gpio1Label;
    QLabel* m_gpio1State;
    QLabel* m_q3ResetState;
};
