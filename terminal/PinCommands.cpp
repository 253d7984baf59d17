#include "terminal/PinCommands.h"

#include "connection/PinActionLists.h"
#include "connection/TerminalSession.h"
#include "dialogs/CPinTestDlg.h"
#include "dialogs/CWendrakeSettingsDlg.h"
#include "resources/TerminalDialogTemplate.h"
#include "terminal/CommandWindow.h"
#include "terminal/TerminalPrompts.h"

#include <QDialog>

void PinCommands::SetPinStates() {
    if (!m_window.EnsureConnected())
        return;
    const PinActionLists::Latch latch =
        PinActionLists::LatchFor(m_window.ListPosition(TerminalControl::Gpio0Action),
                                 m_window.ListPosition(TerminalControl::Gpio1Action),
                                 m_window.ListPosition(TerminalControl::Q3ResetAction));
    // Sent even with an empty mask; the next poll shows the new levels.
    if (!m_session.SetPinStates(latch.values, latch.mask))
        m_prompts.Error(QStringLiteral("Pin states could not be set"));
}

void PinCommands::ViewFifoStatus() {
    if (!m_window.EnsureConnected())
        return;
    if (const std::optional<FifoStatus> fifo = m_session.ReadFifoStatus())
        m_prompts.ShowFifoStatus(*fifo);
    else
        m_prompts.Error(QStringLiteral("FIFO status could not be retrieved"));
}

void PinCommands::PurgeFifo() {
    if (!m_window.EnsureConnected())
        return;
    // The counts after the purge follow at once.
    if (!m_session.PurgeFifo()) {
        m_prompts.Error(QStringLiteral("FIFO could not be purged"));
        return;
    }
    ViewFifoStatus();
}

void PinCommands::Settings() {
    {
        // The pin poll keeps running on this thread while the dialog is open.
        TerminalSettings& settings = m_session.Settings();
        // Owned by the window: window managers then give it a dialog's frame over the window.
        CWendrakeSettingsDlg dialog(m_session.Adapter(), &settings.Uart, &settings.Pins,
                                    &settings.ToggleResetOnConnect, m_prompts.Prompts(),
                                    m_window.DialogOwner());
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    m_window.UpdateConnectionStatus();
    m_session.StoreAdapterSettings();
}

void PinCommands::PinTest() {
    // The key watch calls this from any dialog, the pin test itself included.
    if (!m_session.IsConnected() || m_pinTestOpen)
        return;
    CPinTestDlg dialog(m_session.Adapter(), m_prompts.Prompts(), m_window.DialogOwner());
    m_session.StopPinPoll();
    m_pinTestOpen = true;
    const int result = dialog.exec();
    m_pinTestOpen = false;
    if (result == QDialog::Accepted) {
        // OK or a failed poll: disconnect, which leaves the poll stopped.
        if (m_session.IsConnected())
            m_window.ToggleConnection();
        return;
    }
    m_session.StartPinPoll();
}
