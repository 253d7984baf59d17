#include "terminal/CaptureCommands.h"

#include "connection/ReceiveDataFile.h"
#include "connection/TerminalSession.h"
#include "resources/TerminalDialogTemplate.h"
#include "terminal/CommandWindow.h"
#include "terminal/TerminalPrompts.h"

#include <QAbstractButton>
#include <QWidget>

void CaptureCommands::BrowseReceiveFile() {
    const std::optional<QString> path = m_prompts.SaveFileName(QStringLiteral("receive_data.txt"));
    if (!path)
        return;
    m_receiveFileName = *path;
    m_window.UpdateData(false);
}

void CaptureCommands::ToggleCapture() {
    const auto setCaptureControlsEnabled = [this](bool enabled) {
        for (int id : {TerminalControl::ReceiveFile, TerminalControl::AsciiFormat,
                       TerminalControl::HexFormat})
            if (QWidget* control = m_window.Control(id))
                control->setEnabled(enabled);
    };
    auto* captureButton =
        qobject_cast<QAbstractButton*>(m_window.Control(TerminalControl::Capture));

    if (!m_captureActive) {
        if (ReceiveDataFile::existsForReading(m_receiveFileName) &&
            !m_prompts.MayOverwrite(m_receiveFileName))
            return;
        if (!m_session.StartCapture(m_receiveFileName, !m_window.IsAsciiFormat())) {
            m_prompts.FileError(QStringLiteral("Error opening file ") + m_receiveFileName);
            return;
        }
        // The format cannot change while capturing: the file holds one form only.
        setCaptureControlsEnabled(false);
        if (captureButton)
            captureButton->setText(QStringLiteral("Stop Capture and Save File"));
        m_captureActive = 1;
    } else {
        m_session.StopCapture();
        setCaptureControlsEnabled(true);
        if (captureButton)
            captureButton->setText(QStringLiteral("Capture Receive Data to File"));
        m_captureActive = 0;
    }
    m_window.UpdateData(false);
}

// The texts are taken here, before the dialog opens: what arrives meanwhile is not saved.
void CaptureCommands::SaveAsciiData() {
    saveTextToFile(QStringLiteral("ascii_data.txt"), m_session.Received().asciiSnapshot());
}

void CaptureCommands::SaveHexData() {
    saveTextToFile(QStringLiteral("hex_data.txt"), m_session.Received().hexSnapshot());
}

void CaptureCommands::saveTextToFile(const QString& defaultFileName,
                                     const ReceivedText::Snapshot& text) {
    // Counted with the text, before the dialog lets more reads in.
    const qint64 received = m_session.Received().byteCount();
    const quint64 clears = m_session.ClearCount();
    if (const std::optional<QString> path = m_prompts.SaveFileName(defaultFileName)) {
        const TerminalSession::SaveResult result = TerminalSession::SaveText(*path, text);
        if (result == TerminalSession::SaveResult::Saved)
            m_session.NoteSaved(received, clears);
        m_prompts.SaveFailed(result, *path);
    }
}
