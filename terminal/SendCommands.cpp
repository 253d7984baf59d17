#include "terminal/SendCommands.h"

#include "connection/TerminalSession.h"
#include "dialogs/CProgressDlg.h"
#include "resources/TerminalMenu.h"
#include "terminal/BusyCursor.h"
#include "terminal/CommandWindow.h"
#include "terminal/TerminalPrompts.h"
#include "terminal/TransferBox.h"

void SendCommands::SendData() {
    sendBox(false);
}

// An automatic send (a change of the box) adds no line ending.
void SendCommands::sendBox(bool automatic) {
    if (!m_window.EnsureConnected())
        return;
    TransferBox* box = m_window.Transfer();
    {
        BusyCursor busy;
        const QString text = box ? box->text() : QString();
        const bool ascii = m_window.IsAsciiFormat();
        // A failed send says nothing and keeps the text, so it can be sent again.
        const LineEnding ending =
            ascii && !automatic ? m_session.Options().SendLineEnding : LineEnding::None;
        const bool sent = m_session.SendText(text, !ascii, ending);
        if (sent && m_session.Settings().ClearSentTransferData != 0 && box)
            box->setText(QString());
    }
    if (box)
        box->setFocus(Qt::OtherFocusReason);
}

// Every user change of the box, with automatic send on, goes out at once and empties the box.
void SendCommands::TransferTextChanged() {
    if (m_session.Settings().AutoSendTransferText == 0)
        return;
    TransferBox* box = m_window.Transfer();
    if (!box)
        return;
    if (!box->text().isEmpty())
        sendBox(true);
    box->setText(QString());
}

void SendCommands::ToggleClearSentTransferData() {
    toggleOption(m_session.Settings().ClearSentTransferData,
                 TerminalMenuItem::ClearSentTransferData);
}

void SendCommands::ToggleAutoSendTransferText() {
    toggleOption(m_session.Settings().AutoSendTransferText, TerminalMenuItem::AutoSendTransferText);
}

// The menu's own check toggle is overruled: the mark always shows the flag.
void SendCommands::toggleOption(std::int32_t& flag, int menuItemId) {
    // Any nonzero value is on, as the settings file reads it.
    flag = flag != 0 ? 0 : 1;
    m_window.SetMenuMark(menuItemId, flag != 0);
    m_session.SaveSettings();
}

void SendCommands::SendFile() {
    if (!m_window.EnsureConnected())
        return;
    const std::optional<QString> path = m_prompts.SendFileName();
    if (!path)
        return;
    FileSender& transfer = m_session.FileTransfer();
    if (!m_prompts.FileOpened(transfer.Open(*path), *path))
        return;
    {
        CProgressDlg progress(&transfer.Progress(), transfer.Length(), m_prompts.Prompts(),
                              m_window.DialogOwner());
        // A worker that cannot start leaves the window at 0% until Cancel.
        transfer.Start();
        if (progress.exec() != QDialog::Accepted)
            transfer.Stop();
    }
    // Counter back to 0, worker joined, block released, file closed.
    transfer.Finish();
}
