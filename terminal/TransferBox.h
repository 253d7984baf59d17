#pragma once

#include <QPlainTextEdit>

class QInputMethodEvent;
class QMimeData;

// The transfer box: Enter is left to the dialog (its default button sends), Ctrl+Enter types a
// line break, and line breaks read back as CR LF. Every other character reads back exactly as it
// was typed or pasted (a no-break space stays one, a CR without LF stays a lone CR), so what is
// sent is what is in the box. Only the user's own edits raise userTextChanged; text set by the
// program does not.
class TransferBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TransferBox(QWidget* parent = nullptr);

    // The text with every line break as CR LF.
    QString text() const;
    // Replaces the text without raising userTextChanged. CR LF and LF are line breaks.
    void setText(const QString& text);

signals:
    void userTextChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    bool m_settingText = false;
};
