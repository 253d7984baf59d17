#include "receiveview/ReceiveCaretKeys.h"

#include "receiveview/ReceiveLayout.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <algorithm>

ReceiveCaretKeys::Step ReceiveCaretKeys::stepFor(const QKeyEvent* event) {
    struct Binding {
        QKeySequence::StandardKey key;
        Move move;
        bool extend;
    };
    static const Binding bindings[] = {
        {QKeySequence::MoveToPreviousChar, Move::Left, false},
        {QKeySequence::MoveToNextChar, Move::Right, false},
        {QKeySequence::MoveToPreviousWord, Move::WordLeft, false},
        {QKeySequence::MoveToNextWord, Move::WordRight, false},
        {QKeySequence::MoveToPreviousLine, Move::Up, false},
        {QKeySequence::MoveToNextLine, Move::Down, false},
        {QKeySequence::MoveToPreviousPage, Move::PageUp, false},
        {QKeySequence::MoveToNextPage, Move::PageDown, false},
        {QKeySequence::MoveToStartOfLine, Move::LineStart, false},
        {QKeySequence::MoveToEndOfLine, Move::LineEnd, false},
        {QKeySequence::MoveToStartOfDocument, Move::Start, false},
        {QKeySequence::MoveToEndOfDocument, Move::End, false},
        {QKeySequence::SelectPreviousChar, Move::Left, true},
        {QKeySequence::SelectNextChar, Move::Right, true},
        {QKeySequence::SelectPreviousWord, Move::WordLeft, true},
        {QKeySequence::SelectNextWord, Move::WordRight, true},
        {QKeySequence::SelectPreviousLine, Move::Up, true},
        {QKeySequence::SelectNextLine, Move::Down, true},
        {QKeySequence::SelectPreviousPage, Move::PageUp, true},
        {QKeySequence::SelectNextPage, Move::PageDown, true},
        {QKeySequence::SelectStartOfLine, Move::LineStart, true},
        {QKeySequence::SelectEndOfLine, Move::LineEnd, true},
        {QKeySequence::SelectStartOfDocument, Move::Start, true},
        {QKeySequence::SelectEndOfDocument, Move::End, true},
    };
    for (const Binding& b : bindings) {
        if (event->matches(b.key))
            return {b.move, b.extend};
    }
    return {};
}

qint64 ReceiveCaretKeys::target(Step step, const ReceiveLayout& layout, qint64 anchor, qint64 caret,
                                qint64 page) {
    const Move move = step.move;
    const bool vertical =
        move == Move::Up || move == Move::Down || move == Move::PageUp || move == Move::PageDown;
    if (!vertical)
        m_goalColumn = -1;
    const bool selection = anchor != caret;
    switch (move) {
    case Move::Left:
        // Without Shift a selection collapses to its start, as text views do.
        return (!step.extend && selection) ? std::min(anchor, caret) : caret - 1;
    case Move::Right:
        return (!step.extend && selection) ? std::max(anchor, caret) : caret + 1;
    case Move::WordLeft:
        return layout.wordBoundary(caret, false);
    case Move::WordRight:
        return layout.wordBoundary(caret, true);
    case Move::Up:
        return verticalTarget(layout, caret, -1);
    case Move::Down:
        return verticalTarget(layout, caret, 1);
    case Move::PageUp:
        return verticalTarget(layout, caret, -page);
    case Move::PageDown:
        return verticalTarget(layout, caret, page);
    case Move::LineStart:
        return layout.lineStartOf(caret);
    case Move::LineEnd:
        return layout.lineEndOf(caret);
    case Move::Start:
        return 0;
    case Move::End:
        return layout.textLength();
    case Move::None:
        break;
    }
    return caret;
}

qint64 ReceiveCaretKeys::verticalTarget(const ReceiveLayout& layout, qint64 caret, qint64 rows) {
    const qint64 row = layout.rowOfPosition(caret);
    if (m_goalColumn < 0)
        m_goalColumn = caret - layout.rowStartPosition(row);
    const qint64 target = std::clamp<qint64>(row + rows, 0, layout.rowCount() - 1);
    if (target == row)
        return rows < 0 ? 0 : layout.textLength();
    return layout.positionOfRowColumn(target, m_goalColumn);
}
