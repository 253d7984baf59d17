#pragma once

#include <QtGlobal>

class QFont;
class QWidget;
class ReceiveFindBar;
class ReceiveView;
class ReceivedText;

// The receive area of the terminal window: the view over the received texts and the find bar
// over it. Without a view in the template every call does nothing.
class ReceivePanel {
public:
    ReceivePanel(ReceiveView* view, const ReceivedText& source, QWidget* window);

    ReceiveView* view() const { return m_view; }
    ReceiveFindBar* findBar() const { return m_findBar; }

    void setFont(const QFont& font);
    // New bytes are stored: the view follows the end; the focus stays where it is.
    void appended();
    void setBlank(bool blank);
    // The format chosen, with the focus and the caret at caret (or the end of a shorter text).
    void showFormat(bool ascii, qint64 caret);
    // Before the texts are cleared a running find ends; after, the view starts afresh.
    void endFind();
    void reset();
    void find();
    void findNext();
    void findPrevious();
    // The find bar over the view, after every change of the view's place.
    void placeFindBar();

private:
    ReceiveView* m_view;
    ReceiveFindBar* m_findBar = nullptr;
};
