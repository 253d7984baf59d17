#include "terminal/TransferBox.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The document turns a lone CR, U+2029 and its own frame marks (U+FDD0, U+FDD1) into structure,
// so they cannot be held as they are. A lone CR is kept as a noncharacter standing in for it and
// read back as CR; the others, and the stand-in itself when it comes from outside, are kept as
// U+FFFD, which goes out as '?' exactly as they would.
constexpr char16_t LoneCrStandIn = 0xFDD2;

bool heldAsReplacement(char16_t c) {
    return c == 0x2029 || c == 0xFDD0 || c == 0xFDD1 || c == LoneCrStandIn;
}

bool needsHolding(const QString& text) {
    for (QChar c : text) {
        if (c == QLatin1Char('\r') || heldAsReplacement(c.unicode()))
            return true;
    }
    return false;
}

// Text from outside as the document holds it: CR LF and LF are line breaks ('\n').
QString toHeld(const QString& text) {
    QString held;
    held.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
                held.append(QLatin1Char('\n'));
                ++i;
            } else {
                held.append(QChar(LoneCrStandIn));
            }
        } else if (heldAsReplacement(c)) {
            held.append(QChar(0xFFFD));
        } else {
            held.append(QChar(c));
        }
    }
    return held;
}

// Held text back as characters; lineBreak replaces each break between blocks (U+2029 in a
// selection, '\n' between the blocks joined below).
QString fromHeld(QString held, QChar blockBreak, QLatin1StringView lineBreak) {
    QString text;
    text.reserve(held.size());
    for (QChar c : held) {
        if (c == blockBreak)
            text.append(lineBreak);
        else if (c.unicode() == LoneCrStandIn)
            text.append(QLatin1Char('\r'));
        else
            text.append(c);
    }
    return text;
}

// The document's text without the conversions of toPlainText (which makes a no-break space a
// space and U+2028 a line break): the blocks' own characters joined by '\n'.
QString heldText(const QTextDocument& document) {
    QString held;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin())
            held.append(QLatin1Char('\n'));
        held.append(block.text());
    }
    return held;
}

} // namespace

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
    return fromHeld(heldText(*document()), QLatin1Char('\n'), QLatin1StringView("\r\n"));
}

void TransferBox::setText(const QString& text) {
    const QString held = toHeld(text);
    if (held == heldText(*document()))
        return;
    QScopedValueRollback<bool> guard(m_settingText, true);
    setPlainText(held);
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
    // A key (or compose sequence) that types a paragraph separator would become a line break.
    if (!isReadOnly() && !(event->modifiers() & Qt::ControlModifier) &&
        needsHolding(event->text())) {
        textCursor().insertText(toHeld(event->text()));
        ensureCursorVisible();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TransferBox::inputMethodEvent(QInputMethodEvent* event) {
    if (!needsHolding(event->commitString())) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent held(event->preeditString(), event->attributes());
    held.setCommitString(toHeld(event->commitString()), event->replacementStart(),
                         event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&held);
    event->setAccepted(held.isAccepted());
}

void TransferBox::insertFromMimeData(const QMimeData* source) {
    if (isReadOnly() || !source || !source->hasText())
        return;
    // Pasted and dropped text keeps its characters; the default route turns a lone CR into a
    // line break and offers rich text.
    textCursor().insertText(toHeld(source->text()));
    ensureCursorVisible();
}

QMimeData* TransferBox::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(fromHeld(textCursor().selectedText(), QChar(QChar::ParagraphSeparator),
                           QLatin1StringView("\n")));
    return data;
}
