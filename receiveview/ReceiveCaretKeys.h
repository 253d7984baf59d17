#pragma once

#include <QtGlobal>

class QKeyEvent;
class ReceiveLayout;

// The caret keys of the receive view: which key moves the caret how, alone or extending the
// selection from its anchor, and where each move puts it. Up, Down and the page keys keep to
// the column they started from across short rows.
class ReceiveCaretKeys {
public:
    enum class Move {
        None,
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        PageUp,
        PageDown,
        LineStart,
        LineEnd,
        Start,
        End
    };
    struct Step {
        Move move = Move::None;
        bool extend = false;
    };

    static Step stepFor(const QKeyEvent* event);

    // Where the step puts the caret; a page is this many rows.
    qint64 target(Step step, const ReceiveLayout& layout, qint64 anchor, qint64 caret, qint64 page);
    // Any move other than Up, Down and the page keys forgets the column.
    void forgetColumn() { m_goalColumn = -1; }

private:
    qint64 verticalTarget(const ReceiveLayout& layout, qint64 caret, qint64 rows);

    // Column that Up and Down keep to across short rows; -1 after any other move.
    qint64 m_goalColumn = -1;
};
