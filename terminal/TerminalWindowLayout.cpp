#include "terminal/TerminalWindowLayout.h"

#include "dialogs/DialogBuilder.h"

#include <QAbstractButton>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QMenuBar>
#include <QPainter>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

// The window frame's width right of the window and its height below it. Only sizes go into the
// layout: during a move and a resize in one step (snapping, tiling, leaving maximised) the
// window's place on the screen may still be the old one while its size is already the new one.
QSize frameBeyond(const QWidget* window) {
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QSize(std::max(0, (outer.x() + outer.width()) - (inner.x() + inner.width())),
                 std::max(0, (outer.y() + outer.height()) - (inner.y() + inner.height())));
}

// Clear Receive Data's width: the rule's 105 pixels, or more for its caption in the window's
// font.
int clearWidth(const QWidget* window, const QAbstractButton* clear) {
    return clear ? std::max(105, DialogBuilder::captionWidth(clear, window->font())) : 105;
}

} // namespace

void TerminalWindowLayout::FollowOuterEdge(QWidget* window, QWidget* view, QWidget* status,
                                           QAbstractButton* clear) {
    // The outer edges (exclusive) in the window's own coordinates.
    const QSize frame = frameBeyond(window);
    const int right = window->width() + frame.width();
    const int bottom = window->height() + frame.height();

    const auto place = [](QWidget* widget, int left, int top, int exclusiveRight,
                          int exclusiveBottom) {
        if (widget)
            widget->setGeometry(
                QRect(QPoint(left, top), QPoint(exclusiveRight - 1, exclusiveBottom - 1)));
    };

    // Clear Receive Data shows its caption in the dialog's font like every other button: where
    // the rule's 105 pixels are too narrow for it, the button grows to the left and the status
    // line ends that much earlier.
    if (clear)
        clear->setFont(window->font());
    const int clearLeft = right - 14 - clearWidth(window, clear);

    const QRect viewRect = view->geometry();
    place(view, viewRect.left(), viewRect.top(), right - 14, bottom - 42);
    if (status)
        place(status, status->geometry().left(), bottom - 32, clearLeft - 15, bottom - 16);
    if (clear)
        place(clear, clearLeft, bottom - 35, right - 14, bottom - 15);
}

QSize TerminalWindowLayout::MinimumSize(const QWidget* window, const QWidget* view,
                                        const QWidget* status, const QAbstractButton* clear,
                                        const QWidget* findBar) {
    const QSize frame = frameBeyond(window);
    // The fixed controls keep the margin on their right that the receive view has on its left.
    int width = 0;
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child == view || child == status || child == clear || child == findBar ||
            child->isWindow() || child->isHidden())
            continue;
        if (const auto* bar = qobject_cast<const QMenuBar*>(child))
            width = std::max(width, bar->sizeHint().width());
        else
            width = std::max(width, child->geometry().right() + 1 + view->x());
    }
    // The bottom line: the status line with a little room, the gap, Clear Receive Data.
    const int statusLeft = status ? status->x() : view->x();
    const int statusRoom = status ? status->fontMetrics().averageCharWidth() * 16 : 0;
    width = std::max(width,
                     statusLeft + statusRoom + 15 + clearWidth(window, clear) + 14 - frame.width());

    const auto* viewFrame = qobject_cast<const QFrame*>(view);
    const int frameLines = viewFrame ? 2 * viewFrame->frameWidth() : 0;
    const int viewHeight =
        std::max(view->minimumSizeHint().height(),
                 MinimumViewRows * QFontMetrics(view->font()).lineSpacing() + frameLines);
    const int height = view->y() + viewHeight + 42 - frame.height();
    return QSize(width, height);
}

void TerminalWindowLayout::PlaceFindBar(QWidget* findBar, const QWidget* view) {
    if (!findBar || !view)
        return;
    const QRect rect = view->geometry();
    const QSize size = findBar->sizeHint();
    const int width = std::min(size.width(), rect.width());
    findBar->setGeometry(rect.right() - width - 16, rect.top() + 1, width, size.height());
    findBar->raise();
}

void TerminalWindowLayout::PaintMinimised(QWidget* window, const QIcon& icon) {
    QPainter painter(window);
    painter.fillRect(window->rect(), window->palette().window());
    const int size = window->style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, window);
    const int x = (window->width() - size + 1) / 2;
    const int y = (window->height() - size + 1) / 2;
    icon.paint(&painter, QRect(x, y, size, size));
}

QFont TerminalWindowLayout::TerminalFont() {
    QFont font = DialogBuilder::fontFor(QStringLiteral("Courier"), 8);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}
