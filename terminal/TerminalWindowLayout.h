#pragma once

class QAbstractButton;
class QWidget;

// The terminal window's resize rule: the receive view, the status line and Clear Receive Data
// keep their distances to the outer window edge, and the find bar sits over the view's top
// right corner.
class TerminalWindowLayout {
public:
    static void FollowOuterEdge(QWidget* window, QWidget* view, QWidget* status,
                                QAbstractButton* clear);
    static void PlaceFindBar(QWidget* findBar, const QWidget* view);
};
