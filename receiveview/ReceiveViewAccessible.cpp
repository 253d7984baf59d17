#include "receiveview/ReceiveViewAccessible.h"

#include "receiveview/ReceiveView.h"

#include <QScrollBar>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace {

QAccessibleInterface* receiveViewFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("ReceiveView") && object && object->isWidgetType())
        return new ReceiveViewAccessible(static_cast<ReceiveView*>(object));
    return nullptr;
}

int clampToInt(qint64 value) {
    return int(std::clamp<qint64>(value, 0, INT_MAX));
}

} // namespace

ReceiveViewAccessible::ReceiveViewAccessible(ReceiveView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

void ReceiveViewAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(receiveViewFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

ReceiveView* ReceiveViewAccessible::view() const {
    return static_cast<ReceiveView*>(widget());
}

QString ReceiveViewAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value)
        return view()->text();
    if (t == QAccessible::Description) {
        QStringList shown;
        if (view()->timestamps())
            shown << QStringLiteral("Each line begins with the time its first byte arrived.");
        if (view()->hexDump() && view()->format() == ReceiveView::Format::Hex)
            shown << QStringLiteral("Hex dump: each line shows the offset, 16 bytes and their "
                                    "characters.");
        if (const QString note = view()->newDataNote(); !note.isEmpty())
            shown << note + QLatin1Char('.');
        if (!shown.isEmpty())
            return shown.join(QLatin1Char(' '));
    }
    return QAccessibleWidget::text(t);
}

QAccessible::State ReceiveViewAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.editable = false;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

void* ReceiveViewAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

void ReceiveViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && view()->hasSelection()) {
        *startOffset = clampToInt(view()->selectionStart());
        *endOffset = clampToInt(view()->selectionEnd());
    }
}

int ReceiveViewAccessible::selectionCount() const {
    return view()->hasSelection() ? 1 : 0;
}

void ReceiveViewAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void ReceiveViewAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        view()->setCaretPosition(view()->caretPosition());
}

void ReceiveViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        view()->setSelection(startOffset, endOffset);
}

int ReceiveViewAccessible::cursorPosition() const {
    return clampToInt(view()->caretPosition());
}

void ReceiveViewAccessible::setCursorPosition(int position) {
    view()->setCaretPosition(position);
}

QString ReceiveViewAccessible::text(int startOffset, int endOffset) const {
    return view()->textRange(startOffset, endOffset);
}

int ReceiveViewAccessible::characterCount() const {
    return clampToInt(view()->textLength());
}

QRect ReceiveViewAccessible::characterRect(int offset) const {
    const QRect local = view()->positionRect(offset);
    const QWidget* viewport = view()->viewport();
    return QRect(viewport->mapToGlobal(local.topLeft()), local.size());
}

int ReceiveViewAccessible::offsetAtPoint(const QPoint& point) const {
    const QWidget* viewport = view()->viewport();
    return clampToInt(view()->positionAt(viewport->mapFromGlobal(point)));
}

void ReceiveViewAccessible::scrollToSubstring(int startIndex, int) {
    view()->setCaretPosition(startIndex);
    view()->flushFrame();
}

QString ReceiveViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = offset;
    return {};
}

bool ReceiveViewAccessible::rowsShowMore() const {
    return view()->timestamps() ||
           (view()->hexDump() && view()->format() == ReceiveView::Format::Hex);
}

QString ReceiveViewAccessible::shownRow(qint64 row, int* startOffset, int* endOffset) const {
    if (row < 0 || row >= view()->rowCount()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const qint64 start = view()->rowStartPosition(row);
    *startOffset = clampToInt(start);
    *endOffset = clampToInt(start + view()->rowLength(row));
    return view()->shownRowText(row);
}

QString ReceiveViewAccessible::textBeforeOffset(int offset,
                                                QAccessible::TextBoundaryType boundaryType,
                                                int* startOffset, int* endOffset) const {
    if (boundaryType != QAccessible::LineBoundary || !rowsShowMore())
        return QAccessibleTextInterface::textBeforeOffset(offset, boundaryType, startOffset,
                                                          endOffset);
    return shownRow(view()->rowOfPosition(offset) - 1, startOffset, endOffset);
}

QString ReceiveViewAccessible::textAfterOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int* startOffset, int* endOffset) const {
    if (boundaryType != QAccessible::LineBoundary || !rowsShowMore())
        return QAccessibleTextInterface::textAfterOffset(offset, boundaryType, startOffset,
                                                         endOffset);
    return shownRow(view()->rowOfPosition(offset) + 1, startOffset, endOffset);
}

QString ReceiveViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    if (boundaryType != QAccessible::LineBoundary || !rowsShowMore())
        return QAccessibleTextInterface::textAtOffset(offset, boundaryType, startOffset, endOffset);
    return shownRow(view()->rowOfPosition(offset), startOffset, endOffset);
}
