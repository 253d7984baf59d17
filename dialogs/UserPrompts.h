#pragma once

#include <QString>

#include <optional>

class QWidget;

enum class PromptIcon { None, Error, Exclamation, Question, Information };
// YesNoDefaultNo: Enter answers No, for questions whose Yes loses something.
enum class PromptButtons { Ok, YesNo, YesNoDefaultNo };
enum class PromptAnswer { Ok, Yes, No };

// Settings of an open or save file dialog.
struct FileDialogRequest {
    bool Save = true;
    QString InitialName;   // file name the dialog starts with (may be empty)
    QString DefaultSuffix; // appended to a name typed without one, e.g. "txt"
    QString Filter;        // Qt filter text, e.g. "*.txt (*.txt)"
    bool ConfirmOverwrite = true;
};

// Every question and message to the user goes through here, so tests can read the exact texts
// and answer them.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    virtual PromptAnswer Message(QWidget* owner, const QString& text, const QString& caption,
                                 PromptIcon icon, PromptButtons buttons) = 0;
    // The same with an explanation shown under the text at once, and a detail that the box
    // offers behind a button; empty ones add nothing.
    virtual PromptAnswer DetailedMessage(QWidget* owner, const QString& text,
                                         const QString& caption, PromptIcon icon,
                                         PromptButtons buttons, const QString& explanation,
                                         const QString& detail) {
        (void)explanation;
        (void)detail;
        return Message(owner, text, caption, icon, buttons);
    }
    // The chosen full path, or nothing when the user cancels.
    virtual std::optional<QString> FileName(QWidget* owner, const FileDialogRequest& request) = 0;
};
