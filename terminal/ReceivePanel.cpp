#include "terminal/ReceivePanel.h"

#include "receiveview/ReceiveFindBar.h"
#include "receiveview/ReceiveView.h"
#include "terminal/TerminalWindowLayout.h"

ReceivePanel::ReceivePanel(ReceiveView* view, const ReceivedText& source, QWidget* window)
    : m_view(view) {
    if (!m_view)
        return;
    m_view->setSource(&source);
    m_view->setAccessibleName(QStringLiteral("Receive Data"));
    m_findBar = new ReceiveFindBar(m_view, window);
    placeFindBar();
}

void ReceivePanel::setFont(const QFont& font) {
    if (m_view)
        m_view->setFont(font);
}

void ReceivePanel::appended() {
    if (m_view)
        m_view->contentAppended();
}

void ReceivePanel::setBlank(bool blank) {
    if (m_view)
        m_view->setBlank(blank);
}

void ReceivePanel::showFormat(bool ascii, qint64 caret) {
    if (!m_view)
        return;
    m_view->setFocus(Qt::OtherFocusReason);
    m_view->setFormat(ascii ? ReceiveView::Format::Ascii : ReceiveView::Format::Hex);
    m_view->setCaretPosition(caret);
}

void ReceivePanel::endFind() {
    if (m_findBar)
        m_findBar->cancel();
}

void ReceivePanel::reset() {
    if (m_view)
        m_view->contentReset();
}

void ReceivePanel::find() {
    if (m_findBar)
        m_findBar->open();
}

void ReceivePanel::findNext() {
    if (m_findBar)
        m_findBar->findNext();
}

void ReceivePanel::findPrevious() {
    if (m_findBar)
        m_findBar->findPrevious();
}

void ReceivePanel::placeFindBar() {
    TerminalWindowLayout::PlaceFindBar(m_findBar, m_view);
}
