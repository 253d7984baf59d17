#include "terminal/TerminalWindowLayout.h"

#include "dialogs/DialogBuilder.h"

#include <QAbstractButton>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QWidget>

#include <algorithm>

void TerminalWindowLayout::FollowOuterEdge(QWidget* window, QWidget* view, QWidget* status,
                                           QAbstractButton* clear) {
    const QRect outer = window->frameGeometry();
    // Exclusive right and bottom edges in screen pixels, as window rectangles count them.
    const int right = outer.x() + outer.width();
    const int bottom = outer.y() + outer.height();

    const auto place = [window](QWidget* widget, int left, int top, int screenRight,
                                int screenBottom) {
        if (!widget)
            return;
        const QPoint corner = window->mapFromGlobal(QPoint(screenRight, screenBottom));
        widget->setGeometry(QRect(QPoint(left, top), QPoint(corner.x() - 1, corner.y() - 1)));
    };
    const auto clientX = [window](int screenX) {
        return window->mapFromGlobal(QPoint(screenX, 0)).x();
    };
    const auto clientY = [window](int screenY) {
        return window->mapFromGlobal(QPoint(0, screenY)).y();
    };

    // Clear Receive Data shows its caption in the dialog's font like every other button: where
    // the rule's 105 pixels are too narrow for it, the button grows to the left and the status
    // line ends that much earlier.
    int clearLeft = right - 119;
    if (clear) {
        clear->setFont(window->font());
        clearLeft = std::min(clearLeft, right - 14 - DialogBuilder::captionWidth(clear));
    }

    const QRect viewRect = view->geometry();
    place(view, viewRect.left(), viewRect.top(), right - 14, bottom - 42);
    if (status)
        place(status, status->geometry().left(), clientY(bottom - 32), clearLeft - 15, bottom - 16);
    if (clear)
        place(clear, clientX(clearLeft), clientY(bottom - 35), right - 14, bottom - 15);
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
