#pragma once

#include <QPlainTextEdit>

// The transfer box: Enter is left to the dialog (its default button sends), Ctrl+Enter types a
// line break, and line breaks read back as CR LF. Only the user's own edits raise
// userTextChanged; text set by the program does not.
class TransferBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TransferBox(QWidget* parent = nullptr);

    // The text with every line break as CR LF.
    QString text() const;
    // Replaces the text without raising userTextChanged.
    void setText(const QString& text);

signals:
    void userTextChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_settingText = false;
};
