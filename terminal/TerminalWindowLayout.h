#pragma once

class QAbstractButton;
class QFont;
class QIcon;
class QWidget;

// The terminal window's resize rule: the receive view, the status line and Clear Receive Data
// keep their distances to the outer window edge (Clear Receive Data wide enough for its
// caption), and the find bar sits over the view's top right corner; and how the window looks
// minimised, and its text font.
class TerminalWindowLayout {
public:
    static void FollowOuterEdge(QWidget* window, QWidget* view, QWidget* status,
                                QAbstractButton* clear);
    static void PlaceFindBar(QWidget* findBar, const QWidget* view);
    // A minimised window shows the application icon centred.
    static void PaintMinimised(QWidget* window, const QIcon& icon);
    // The fixed-pitch font of the transfer box and the receive view.
    static QFont TerminalFont();
};
