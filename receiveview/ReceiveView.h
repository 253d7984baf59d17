#pragma once

#include "receiveview/ReceiveCaretKeys.h"
#include "receiveview/ReceiveCellGrid.h"
#include "receiveview/ReceiveLayout.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class ReceivedText;

// The read-only receive view: shows the stored received bytes as text or as hexadecimal, wrapped
// at its width in a fixed-pitch font. It lays out only the rows on screen and repaints on a
// frame timer, so a long run without line breaks costs the same at 50 MB as at 1 KB.
// In ASCII form carriage returns and zero bytes take no cell and LF breaks the line; other
// control bytes show as blanks, 0x80-0xFF as their Latin-1 characters.
// The view keeps the caret, the scroll position and the frame timer; what the rows hold is
// ReceiveLayout's, the caret keys are ReceiveCaretKeys', the drawing is ReceiveCellGrid's.
class ReceiveView : public QAbstractScrollArea {
    Q_OBJECT
public:
    using Format = ReceiveLayout::Format;

    explicit ReceiveView(QWidget* parent = nullptr);
    ~ReceiveView() override;

    void setSource(const ReceivedText* text);
    const ReceivedText* source() const { return m_layout.source(); }

    Format format() const { return m_layout.format(); }

    // Options of the view. Follow (the default): every append puts the caret at the end and
    // scrolls there. Without it, or with hold while the user has a selection or has scrolled
    // up, an append moves nothing and a marker says that new data is below.
    void setFollow(bool follow, bool holdWhileReading);
    bool newDataBelow() const { return m_newDataBelow; }
    // The band's text while new data waits below, else empty.
    QString newDataNote() const;
    // Arrival time of each line's first byte in a column beside it (display only: text,
    // selection and copy are without it).
    void setTimestamps(bool on);
    bool timestamps() const { return m_layout.timestamps(); }
    // Hex Format as dump rows: offset, 16 bytes, their printable characters. The view's text
    // and positions stay those of the hex text.
    void setHexDump(bool on);
    bool hexDump() const { return m_layout.hexDump(); }

    // Stored bytes and view positions of the current form.
    qint64 positionOfByte(qint64 byte) const { return m_layout.positionOfByte(byte); }
    qint64 byteOfPosition(qint64 position) const { return m_layout.byteOfPosition(position); }
    // Selects the bytes [firstByte, endByte) as shown now and scrolls to them.
    void showMatch(qint64 firstByte, qint64 endByte);
    // Everything a row shows: time column, dump offset and characters included.
    QString shownRowText(qint64 row) const { return m_layout.shownRowText(row); }
    // Shows the whole stored text in the other form; the caret goes to the start.
    void setFormat(Format format);
    // After bytes were appended to the source: caret at the end with an empty selection, and
    // the view follows it at the next frame. The focus stays where it is.
    void contentAppended();
    // After the source was emptied or AsciiText started afresh.
    void contentReset();
    // Shows nothing for a while without touching the stored text (the Q3 Reset pulse).
    void setBlank(bool blank);
    bool isBlank() const { return m_layout.isBlank(); }

    // The view's text is what it shows: in ASCII form without carriage returns and zero bytes.
    qint64 textLength() const { return m_layout.textLength(); }
    QString text() const { return textRange(0, textLength()); }
    QString textRange(qint64 from, qint64 to) const { return m_layout.textRange(from, to); }

    qint64 caretPosition() const { return m_caret; }
    qint64 anchorPosition() const { return m_anchor; }
    qint64 selectionStart() const { return std::min(m_anchor, m_caret); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_caret); }
    bool hasSelection() const { return m_anchor != m_caret; }
    // Puts the caret there with an empty selection and scrolls it into view.
    void setCaretPosition(qint64 position);
    void setSelection(qint64 anchor, qint64 caret);
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // Layout at the current width, for the scroll bar, tests and accessibility.
    int columns() const { return m_layout.columns(); }
    qint64 rowCount() const { return m_layout.rowCount(); }
    qint64 firstVisibleRow() const;
    int visibleRowCount() const;
    QString rowText(qint64 row) const { return m_layout.rowText(row); }
    qint64 rowStartPosition(qint64 row) const { return m_layout.rowStartPosition(row); }
    qint64 rowLength(qint64 row) const { return m_layout.rowLength(row); }
    qint64 rowOfPosition(qint64 position) const { return m_layout.rowOfPosition(position); }
    qint64 positionAt(const QPoint& viewportPoint) const;
    QRect positionRect(qint64 position) const; // in viewport coordinates
    // Applies pending appends to the scroll bar at once instead of at the next frame.
    void flushFrame();
    // A strip of that height above the rows for a bar of the window's (the find bar), so that
    // the bar covers no row; 0 gives the rows the whole view again.
    void setTopStrip(int pixels);

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateMetrics();
    void updateWrapWidth();
    void updateScrollBar();
    // Soon: within a frame, for what the user does. Paced: appended data, at most every
    // StreamFrameMs while it keeps coming.
    enum class Frame { Soon, Paced };
    void scheduleFrame(Frame frame = Frame::Soon);
    void onFrame();
    void ensureCaretVisible();
    void setCaretInternal(qint64 anchor, qint64 caret, bool scroll, Frame frame = Frame::Soon);
    void notifyAccessibility();
    void setNewDataBelow(bool below);
    void notifyDescriptionChanged();
    bool followsNow() const;
    bool endVisible() const;
    void relayout();

    ReceiveCellGrid m_grid;
    ReceiveLayout m_layout;
    ReceiveCaretKeys m_keys;
    bool m_follow = true;
    bool m_hold = false;
    bool m_newDataBelow = false;
    qint64 m_anchor = 0;
    qint64 m_caret = 0;
    bool m_dragging = false;
    bool m_scrollToCaret = false;
    bool m_resetPending = false;
    qint64 m_reportedLength = 0;
    QTimer m_frameTimer;
    QElapsedTimer m_lastFrame;
};
