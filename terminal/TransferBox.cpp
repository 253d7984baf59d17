#include "terminal/TransferBox.h"

#include <QKeyEvent>
#include <QScopedValueRollback>

TransferBox::TransferBox(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves to the next control, as in every other box of the window.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_settingText)
            emit userTextChanged();
    });
}

QString TransferBox::text() const {
    QString plain = toPlainText();
    plain.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return plain;
}

void TransferBox::setText(const QString& text) {
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (plain == toPlainText())
        return;
    QScopedValueRollback<bool> guard(m_settingText, true);
    setPlainText(plain);
}

void TransferBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (event->modifiers() & Qt::ControlModifier) {
            textCursor().insertText(QStringLiteral("\n"));
            ensureCursorVisible();
            event->accept();
            return;
        }
        // Left to the dialog, which presses its default button.
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
