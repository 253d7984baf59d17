#pragma once

#include <QSize>

class QAbstractButton;
class QFont;
class QIcon;
class QWidget;

// The terminal window's resize rule: the receive view, the status line and Clear Receive Data
// keep their distances to the outer window edge (Clear Receive Data wide enough for its
// caption), and the find bar sits at the view's top right corner; and how the window looks
// minimised, and its text font. The window's smallest size is the one at which every control
// shows.
class TerminalWindowLayout {
public:
    // Rows the receive view keeps at the smallest window size.
    static constexpr int MinimumViewRows = 3;

    static void FollowOuterEdge(QWidget* window, QWidget* view, QWidget* status,
                                QAbstractButton* clear);
    static void PlaceFindBar(QWidget* findBar, const QWidget* view);
    // A minimised window shows the application icon centred.
    static void PaintMinimised(QWidget* window, const QIcon& icon);
    // The fixed-pitch font of the transfer box and the receive view.
    static QFont TerminalFont();
    // The smallest size of the window (without its frame) at which its menu bar and every
    // control that does not follow the outer edge show whole, the receive view keeps
    // MinimumViewRows rows, and the status line and Clear Receive Data fit below it.
    static QSize MinimumSize(const QWidget* window, const QWidget* view, const QWidget* status,
                             const QAbstractButton* clear, const QWidget* findBar);
};
