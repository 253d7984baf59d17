#include "dialogs/QtUserPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

PromptAnswer QtUserPrompts::Message(QWidget* owner, const QString& text, const QString& caption,
                                    PromptIcon icon, PromptButtons buttons) {
    return DetailedMessage(owner, text, caption, icon, buttons, QString(), QString());
}

PromptAnswer QtUserPrompts::DetailedMessage(QWidget* owner, const QString& text,
                                            const QString& caption, PromptIcon icon,
                                            PromptButtons buttons, const QString& explanation,
                                            const QString& detail) {
    QMessageBox box(owner);
    // Under the message, which itself reads as it always did; the detail behind "Show
    // Details...".
    if (!explanation.isEmpty())
        box.setInformativeText(explanation);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case PromptIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case PromptIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case PromptIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoDefaultNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == PromptButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? PromptAnswer::Yes : PromptAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return PromptAnswer::Ok;
}

std::optional<QString> QtUserPrompts::FileName(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.ConfirmOverwrite);
    if (!request.Filter.isEmpty()) {
        // "*.*" means every file where the filter comes from; on Linux it would hide names
        // without a dot.
        QString filter = request.Filter;
        filter.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        dialog.setNameFilter(filter);
    }
    if (!request.DefaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.DefaultSuffix);
    if (!request.InitialName.isEmpty())
        dialog.selectFile(request.InitialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
