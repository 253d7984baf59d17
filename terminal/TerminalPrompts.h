#pragma once

#include "connection/AccessExplanation.h"
#include "connection/FileSender.h"
#include "connection/TerminalSession.h"
#include "device/WendrakeTypes.h"
#include "dialogs/UserPrompts.h"

#include <QString>

#include <optional>

class QWidget;

// What the terminal window says and asks, each with its caption, icon and buttons: the error
// boxes, the questions, the file dialogs of capture, save and send, the FIFO counts.
class TerminalPrompts {
public:
    TerminalPrompts(UserPrompts& prompts, QWidget* owner) : m_prompts(prompts), m_owner(owner) {}

    UserPrompts& Prompts() const { return m_prompts; }

    // An error box; it gets the normal cursor while it is up, also during a busy one. The
    // explanation shows under the text, the detail behind a button.
    void Error(const QString& text, const QString& explanation = QString(),
               const QString& detail = QString()) const;
    // The file errors of capture, save and send.
    void FileError(const QString& text) const;
    // The connect error, with the word on why no adapter could be opened: for "No device
    // selected" in view at once, for a failed connect behind the details button.
    void ConnectFailed(TerminalSession::ConnectResult result, const AccessExplanation& access,
                       WendrakeStatus status) const;

    bool AskToConnect() const;
    // Before Escape ends the program with received data in no file; No is the default.
    bool MayDiscardReceived() const;
    bool MayOverwrite(const QString& fileName) const;

    // Every save dialog of the receive work: one "*.txt" filter, "txt" added to a bare name, and
    // the dialog's own question before an existing file is replaced.
    std::optional<QString> SaveFileName(const QString& initialName) const;
    std::optional<QString> SendFileName() const;

    // True when the file can be sent; otherwise says why.
    bool FileOpened(FileSender::OpenResult result, const QString& path) const;
    void SaveFailed(TerminalSession::SaveResult result, const QString& path) const;
    void ShowFifoStatus(const FifoStatus& fifo) const;

private:
    bool ask(const QString& text, const QString& caption) const;

    UserPrompts& m_prompts;
    QWidget* m_owner;
};
