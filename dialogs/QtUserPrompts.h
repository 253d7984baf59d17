#pragma once

#include "dialogs/UserPrompts.h"

// The real prompts: QMessageBox and QFileDialog.
class QtUserPrompts : public UserPrompts {
public:
    PromptAnswer Message(QWidget* owner, const QString& text, const QString& caption,
                         PromptIcon icon, PromptButtons buttons) override;
    PromptAnswer DetailedMessage(QWidget* owner, const QString& text, const QString& caption,
                                 PromptIcon icon, PromptButtons buttons, const QString& explanation,
                                 const QString& detail) override;
    std::optional<QString> FileName(QWidget* owner, const FileDialogRequest& request) override;
};
