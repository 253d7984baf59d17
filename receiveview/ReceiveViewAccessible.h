#pragma once

#include <QAccessibleWidget>

class ReceiveView;

// Exposes the receive view to assistive technology as a read-only text, the way the standard
// text widgets do: its text, caret, selection and character geometry; and what it shows
// besides: the new-data band, the time column and the dump layout.
class ReceiveViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReceiveViewAccessible(ReceiveView* view);

    // Registers the factory once; every ReceiveView then gets this interface.
    static void install();

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType t) override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;
    // A line is a row as shown: with the time column and the dump's offset and characters when
    // those are on. The offsets are those of the row's text.
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;

private:
    ReceiveView* view() const;
    // Rows show more than the text: the time column or the dump layout.
    bool rowsShowMore() const;
    QString shownRow(qint64 row, int* startOffset, int* endOffset) const;
};
