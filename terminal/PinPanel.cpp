#include "terminal/PinPanel.h"

#include "connection/PinActionLists.h"
#include "dialogs/DialogBuilder.h"
#include "resources/TerminalDialogTemplate.h"

#include <QComboBox>
#include <QLabel>

namespace {

template <class Widget> Widget* find(const QWidget* window, int id) {
    return qobject_cast<Widget*>(DialogBuilder::control(window, id));
}

void setText(QLabel* label, const QString& text) {
    if (label)
        label->setText(text);
}

} // namespace

PinPanel::PinPanel(const QWidget* window)
    : m_gpio0Action(find<QComboBox>(window, TerminalControl::Gpio0Action)),
      m_gpio1Action(find<QComboBox>(window, TerminalControl::Gpio1Action)),
      m_q3ResetAction(find<QComboBox>(window, TerminalControl::Q3ResetAction)),
      m_gpio0Label(find<QLabel>(window, TerminalControl::Gpio0Label)),
      m_gpio0State(find<QLabel>(window, TerminalControl::Gpio0State)),
      m_gpio1Label(find<QLabel>(window, TerminalControl::Gpio1Label)),
      m_gpio1State(find<QLabel>(window, TerminalControl::Gpio1State)),
      m_q3ResetState(find<QLabel>(window, TerminalControl::Q3ResetState)) {}

// An unreadable UART configuration shows the GPIO names; an unreadable pin configuration leaves
// the lists enabled or not as they were.
void PinPanel::showConnected(const std::optional<UartConfig>& uart,
                             const std::optional<PinConfig>& pins) {
    // Flow control's names start at "Do Not Write"; the GPIO lists keep their positions.
    const bool flowControl = PinActionLists::UsesFlowControlNames(uart);
    const PinActionLists::Pin gpio0 = PinActionLists::Gpio(0, uart);
    const PinActionLists::Pin gpio1 = PinActionLists::Gpio(1, uart);
    DialogBuilder::fillList(m_gpio0Action, gpio0.entries,
                            flowControl ? PinActionLists::DoNotWrite
                                        : m_gpio0Action->currentIndex());
    DialogBuilder::fillList(m_gpio1Action, gpio1.entries,
                            flowControl ? PinActionLists::DoNotWrite
                                        : m_gpio1Action->currentIndex());
    setText(m_gpio0Label, gpio0.label);
    setText(m_gpio1Label, gpio1.label);
    if (pins) {
        m_gpio0Action->setEnabled(PinActionLists::IsGpioOutput(pins->Gpio0Mode));
        m_gpio1Action->setEnabled(PinActionLists::IsGpioOutput(pins->Gpio1Mode));
        m_q3ResetAction->setEnabled(true);
    }
}

void PinPanel::showDisconnected() {
    setText(m_gpio0Label, QStringLiteral("GPIO0"));
    setText(m_gpio1Label, QStringLiteral("GPIO1"));
    for (QLabel* state : {m_gpio0State, m_gpio1State, m_q3ResetState})
        setText(state, QString());
    for (QComboBox* list : {m_gpio0Action, m_gpio1Action, m_q3ResetAction}) {
        DialogBuilder::selectEntry(list, PinActionLists::DoNotWrite);
        list->setEnabled(false);
    }
}

void PinPanel::showLevels(std::uint8_t latch) {
    const auto level = [latch](std::uint8_t bit) {
        return (latch & bit) ? QStringLiteral("High") : QStringLiteral("Low");
    };
    setText(m_gpio0State, level(PinLatchBit::Gpio0));
    setText(m_gpio1State, level(PinLatchBit::Gpio1));
    setText(m_q3ResetState, level(PinLatchBit::Q3Reset));
}
