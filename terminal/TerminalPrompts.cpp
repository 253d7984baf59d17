#include "terminal/TerminalPrompts.h"

#include <QApplication>

namespace {

QString connectErrorText(TerminalSession::ConnectResult result) {
    switch (result) {
    case TerminalSession::ConnectResult::NoDeviceSelected:
        return QStringLiteral("No device selected");
    case TerminalSession::ConnectResult::ConnectFailed:
        return QStringLiteral("Error connecting to device");
    case TerminalSession::ConnectResult::UartNotEnabled:
        return QStringLiteral("Error enabling UART, closing device");
    case TerminalSession::ConnectResult::NoBuffer:
        return QStringLiteral("Error allocating buffers, closing device");
    case TerminalSession::ConnectResult::Connected:
        break;
    }
    return {};
}

} // namespace

void TerminalPrompts::Error(const QString& text, const QString& explanation,
                            const QString& detail) const {
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    if (explanation.isEmpty() && detail.isEmpty())
        m_prompts.Message(m_owner, text, QStringLiteral("Error"), PromptIcon::Error,
                          PromptButtons::Ok);
    else
        m_prompts.DetailedMessage(m_owner, text, QStringLiteral("Error"), PromptIcon::Error,
                                  PromptButtons::Ok, explanation, detail);
    if (busy)
        QApplication::restoreOverrideCursor();
}

void TerminalPrompts::FileError(const QString& text) const {
    m_prompts.Message(m_owner, text, QStringLiteral("Error"), PromptIcon::Exclamation,
                      PromptButtons::Ok);
}

void TerminalPrompts::ConnectFailed(TerminalSession::ConnectResult result,
                                    const AccessExplanation& access, WendrakeStatus status) const {
    // Without an adapter the reason is the whole answer, so it is in view at once.
    if (result == TerminalSession::ConnectResult::NoDeviceSelected)
        Error(connectErrorText(result), access.noDeviceDetail());
    else if (result == TerminalSession::ConnectResult::ConnectFailed)
        Error(connectErrorText(result), QString(), access.connectFailedDetail(status));
    else
        Error(connectErrorText(result));
}

bool TerminalPrompts::ask(const QString& text, const QString& caption) const {
    return m_prompts.Message(m_owner, text, caption, PromptIcon::Question, PromptButtons::YesNo) ==
           PromptAnswer::Yes;
}

bool TerminalPrompts::AskToConnect() const {
    return ask(QStringLiteral("Not connected, would you like to connect now?"),
               QStringLiteral("Connect"));
}

bool TerminalPrompts::MayDiscardReceived() const {
    return m_prompts.Message(m_owner, QStringLiteral("Quit and discard the received data?"),
                             QStringLiteral("Notice"), PromptIcon::Question,
                             PromptButtons::YesNoDefaultNo) == PromptAnswer::Yes;
}

bool TerminalPrompts::MayOverwrite(const QString& fileName) const {
    return ask(fileName + QStringLiteral(" already exists, are you sure you want to overwrite?"),
               QStringLiteral("Notice"));
}

std::optional<QString> TerminalPrompts::SaveFileName(const QString& initialName) const {
    FileDialogRequest request;
    request.Save = true;
    request.InitialName = initialName;
    request.DefaultSuffix = QStringLiteral("txt");
    request.Filter = QStringLiteral("*.txt (*.txt)");
    request.ConfirmOverwrite = true;
    return m_prompts.FileName(m_owner, request);
}

std::optional<QString> TerminalPrompts::SendFileName() const {
    FileDialogRequest request;
    request.Save = false;
    request.Filter = QStringLiteral("All Files (*.*)");
    request.ConfirmOverwrite = false;
    return m_prompts.FileName(m_owner, request);
}

bool TerminalPrompts::FileOpened(FileSender::OpenResult result, const QString& path) const {
    switch (result) {
    case FileSender::OpenResult::Ok:
        return true;
    case FileSender::OpenResult::OpenFailed:
        FileError(QStringLiteral("Error opening file ") + path);
        break;
    case FileSender::OpenResult::TooLarge:
        FileError(QStringLiteral("File too large to send ") + path);
        break;
    case FileSender::OpenResult::ReadFailed:
        FileError(QStringLiteral("Error reading file ") + path);
        break;
    }
    return false;
}

void TerminalPrompts::SaveFailed(TerminalSession::SaveResult result, const QString& path) const {
    switch (result) {
    case TerminalSession::SaveResult::Saved:
        break;
    case TerminalSession::SaveResult::CreateFailed:
        FileError(QStringLiteral("Error creating file ") + path);
        break;
    case TerminalSession::SaveResult::WriteFailed:
        FileError(QStringLiteral("Error during saving file to disk"));
        break;
    }
}

void TerminalPrompts::ShowFifoStatus(const FifoStatus& fifo) const {
    const QString text =
        QStringLiteral("FIFO Status:\n\n %1 Bytes in TX Buffer\n %2 Bytes in RX Buffer")
            .arg(fifo.TxCount)
            .arg(fifo.RxCount);
    m_prompts.Message(m_owner, text, QStringLiteral("FIFO Status"), PromptIcon::Information,
                      PromptButtons::Ok);
}
