#include "receiveview/ReceiveView.h"

#include "receiveview/ReceiveViewAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

constexpr int FrameMs = 16;
// While data keeps coming the view paints at most this often: hundreds of lines a second cannot
// be read any faster, and each paint of a full view costs the window's thread about a
// millisecond. The first data after a quiet time, and whatever the user does, show within a
// frame.
constexpr int StreamFrameMs = 100;

} // namespace

ReceiveView::ReceiveView(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_layout([this] { return m_grid.cellsAcross(viewport()->width()); }) {
    ReceiveViewAccessible::install();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // The paint fills the whole viewport: nothing beneath it needs painting first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(FrameMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ReceiveView::onFrame);
    updateMetrics();
}

ReceiveView::~ReceiveView() = default;

void ReceiveView::setSource(const ReceivedText* text) {
    m_layout.setSource(text);
    contentReset();
}

// --- content ---------------------------------------------------------------------------------

void ReceiveView::setFormat(Format format) {
    m_layout.setFormat(format);
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    scheduleFrame();
    if (m_layout.hexDump())
        notifyDescriptionChanged(); // the dump layout shows in Hex Format only
}

void ReceiveView::contentAppended() {
    if (!m_layout.source())
        return;
    const bool follow = followsNow();
    if (m_layout.extend())
        m_resetPending = true;
    if (follow) {
        const qint64 end = textLength();
        setCaretInternal(end, end, true, Frame::Paced);
        return;
    }
    // Held: caret, selection and scroll position stay where the user has them.
    setCaretInternal(m_anchor, m_caret, false, Frame::Paced);
    setNewDataBelow(true);
}

bool ReceiveView::followsNow() const {
    if (!m_follow)
        return false;
    if (!m_hold)
        return true;
    const QScrollBar* bar = verticalScrollBar();
    return !hasSelection() && bar->value() >= bar->maximum();
}

bool ReceiveView::endVisible() const {
    return firstVisibleRow() + visibleRowCount() >= rowCount();
}

void ReceiveView::setFollow(bool follow, bool holdWhileReading) {
    m_follow = follow;
    m_hold = holdWhileReading;
}

void ReceiveView::setTimestamps(bool on) {
    if (on == m_layout.timestamps())
        return;
    m_layout.setTimestamps(on);
    relayout();
    notifyDescriptionChanged();
}

void ReceiveView::setHexDump(bool on) {
    if (on == m_layout.hexDump())
        return;
    m_layout.setHexDump(on);
    relayout();
    if (m_layout.format() == Format::Hex)
        notifyDescriptionChanged();
}

QString ReceiveView::newDataNote() const {
    return m_newDataBelow ? tr("New data below (Ctrl+End)") : QString();
}

void ReceiveView::setNewDataBelow(bool below) {
    if (below == m_newDataBelow)
        return;
    m_newDataBelow = below;
    notifyDescriptionChanged();
}

// The accessible description says what the view shows besides the text (the band, the time
// column, the dump layout): assistive tools read it again when told. Rare and cheap, so told
// whether or not a tool listens now.
void ReceiveView::notifyDescriptionChanged() {
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

// The cells of a row changed: wrap again, keep the caret in sight.
void ReceiveView::relayout() {
    m_layout.rewrap();
    m_scrollToCaret = true;
    updateScrollBar();
    scheduleFrame();
    viewport()->update();
}

void ReceiveView::showMatch(qint64 firstByte, qint64 endByte) {
    const qint64 from = positionOfByte(firstByte);
    // In hex the match ends after its last digits, not after the space that follows them.
    const qint64 to = format() == Format::Hex ? std::max(from, positionOfByte(endByte) - 1)
                                              : positionOfByte(endByte);
    setSelection(from, to);
}

void ReceiveView::contentReset() {
    setNewDataBelow(false);
    m_layout.reset();
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    scheduleFrame();
}

void ReceiveView::setBlank(bool blank) {
    if (blank == m_layout.isBlank())
        return;
    m_layout.setBlank(blank);
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    viewport()->update();
}

// --- caret and selection -----------------------------------------------------------------------

void ReceiveView::setCaretInternal(qint64 anchor, qint64 caret, bool scroll, Frame frame) {
    const qint64 length = textLength();
    anchor = std::clamp<qint64>(anchor, 0, length);
    caret = std::clamp<qint64>(caret, 0, length);
    const bool changed = anchor != m_anchor || caret != m_caret;
    m_anchor = anchor;
    m_caret = caret;
    if (scroll)
        m_scrollToCaret = true;
    scheduleFrame(frame);
    if (changed)
        emit selectionChanged();
}

void ReceiveView::setCaretPosition(qint64 position) {
    m_keys.forgetColumn();
    setCaretInternal(position, position, true);
}

void ReceiveView::setSelection(qint64 anchor, qint64 caret) {
    m_keys.forgetColumn();
    setCaretInternal(anchor, caret, true);
}

QString ReceiveView::selectedText() const {
    return textRange(selectionStart(), selectionEnd());
}

void ReceiveView::selectAll() {
    setCaretInternal(0, textLength(), true);
}

void ReceiveView::copy() const {
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

// --- layout ------------------------------------------------------------------------------------

void ReceiveView::updateMetrics() {
    m_grid.setFont(font());
    updateWrapWidth();
    viewport()->update();
}

int ReceiveView::visibleRowCount() const {
    return m_grid.rowsDown(viewport()->height());
}

qint64 ReceiveView::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

qint64 ReceiveView::positionAt(const QPoint& point) const {
    return m_grid.positionAt(m_layout, firstVisibleRow(), point);
}

QRect ReceiveView::positionRect(qint64 position) const {
    return m_grid.positionRect(m_layout, firstVisibleRow(), position);
}

void ReceiveView::updateWrapWidth() {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_layout.rewrap();
    updateScrollBar();
    if (atEnd)
        bar->setValue(bar->maximum());
}

void ReceiveView::updateScrollBar() {
    const int visible = visibleRowCount();
    const qint64 maximum = std::clamp<qint64>(rowCount() - visible, 0, INT_MAX);
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, int(maximum));
    bar->setPageStep(visible);
    bar->setSingleStep(1);
}

void ReceiveView::ensureCaretVisible() {
    const qint64 row = rowOfPosition(m_caret);
    const qint64 top = firstVisibleRow();
    const int visible = visibleRowCount();
    QScrollBar* bar = verticalScrollBar();
    if (row < top)
        bar->setValue(int(std::min<qint64>(row, INT_MAX)));
    else if (row >= top + visible)
        bar->setValue(int(std::min<qint64>(row - visible + 1, INT_MAX)));
}

void ReceiveView::scheduleFrame(Frame frame) {
    if (frame == Frame::Paced) {
        if (m_frameTimer.isActive())
            return;
        const qint64 since = m_lastFrame.isValid() ? m_lastFrame.elapsed() : StreamFrameMs;
        m_frameTimer.start(int(std::clamp<qint64>(StreamFrameMs - since, FrameMs, StreamFrameMs)));
        return;
    }
    if (!m_frameTimer.isActive() || m_frameTimer.remainingTime() > FrameMs)
        m_frameTimer.start(FrameMs);
}

void ReceiveView::onFrame() {
    m_lastFrame.start();
    updateScrollBar();
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        ensureCaretVisible();
    }
    if (m_newDataBelow && endVisible())
        setNewDataBelow(false);
    notifyAccessibility();
    viewport()->update();
}

void ReceiveView::setTopStrip(int pixels) {
    // The viewport shrinks: the rows from the first visible one on stay where they are.
    setViewportMargins(0, std::max(0, pixels), 0, 0);
}

void ReceiveView::flushFrame() {
    m_frameTimer.stop();
    onFrame();
}

void ReceiveView::notifyAccessibility() {
    const qint64 length = textLength();
    if (QAccessible::isActive()) {
        if (m_resetPending) {
            QAccessibleTextUpdateEvent event(this, 0, QString(), QString());
            QAccessible::updateAccessibility(&event);
        } else if (length > m_reportedLength) {
            QAccessibleTextInsertEvent event(this, int(m_reportedLength),
                                             textRange(m_reportedLength, length));
            QAccessible::updateAccessibility(&event);
        }
        QAccessibleTextCursorEvent cursor(this, int(std::min<qint64>(m_caret, INT_MAX)));
        QAccessible::updateAccessibility(&cursor);
    }
    m_resetPending = false;
    m_reportedLength = length;
}

// --- events ------------------------------------------------------------------------------------

void ReceiveView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.fillRect(viewport()->rect(), pal.brush(QPalette::Base));
    m_grid.paintRows(painter, pal, m_layout, firstVisibleRow(), visibleRowCount() + 1,
                     selectionStart(), selectionEnd());
    if (hasFocus() && !isBlank() && !hasSelection()) {
        const QRect caret = positionRect(m_caret);
        painter.fillRect(QRect(caret.x(), caret.y(), 1, caret.height()), pal.brush(QPalette::Text));
    }
    if (m_newDataBelow) {
        // The view is held: a band at its foot says that more has arrived below.
        const QString note = newDataNote();
        const int h = m_grid.lineHeight() + 2;
        const QRect band(0, viewport()->height() - h, viewport()->width(), h);
        painter.fillRect(band, pal.brush(QPalette::ToolTipBase));
        painter.setPen(pal.color(QPalette::ToolTipText));
        painter.drawText(band, Qt::AlignCenter, note);
    }
}

void ReceiveView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateWrapWidth();
}

void ReceiveView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void ReceiveView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    const ReceiveCaretKeys::Step step = ReceiveCaretKeys::stepFor(event);
    if (step.move == ReceiveCaretKeys::Move::None || isBlank()) {
        // Everything else goes on to the dialog (Enter, Escape, Tab).
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const qint64 page = std::max(1, visibleRowCount() - 1);
    const qint64 target = m_keys.target(step, m_layout, m_anchor, m_caret, page);
    // The page keys scroll by a page as well as moving the caret.
    QScrollBar* bar = verticalScrollBar();
    if (step.move == ReceiveCaretKeys::Move::PageUp)
        bar->setValue(int(std::max<qint64>(0, bar->value() - page)));
    else if (step.move == ReceiveCaretKeys::Move::PageDown)
        bar->setValue(int(std::min<qint64>(bar->maximum(), bar->value() + page)));
    setCaretInternal(step.extend ? m_anchor : target, target, true);
    viewport()->update();
}

void ReceiveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 position = positionAt(event->position().toPoint());
    m_keys.forgetColumn();
    if (event->modifiers() & Qt::ShiftModifier)
        setCaretInternal(m_anchor, position, false);
    else
        setCaretInternal(position, position, false);
    m_dragging = true;
    viewport()->update();
}

void ReceiveView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging)
        return;
    const QPoint point = event->position().toPoint();
    QScrollBar* bar = verticalScrollBar();
    if (point.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (point.y() > viewport()->height())
        bar->setValue(bar->value() + 1);
    setCaretInternal(m_anchor, positionAt(point), false);
    viewport()->update();
}

void ReceiveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void ReceiveView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const auto [from, to] = m_layout.wordAround(positionAt(event->position().toPoint()));
    setCaretInternal(from, to, false);
    m_dragging = false;
    viewport()->update();
}

void ReceiveView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &ReceiveView::copy);
    copyAction->setEnabled(hasSelection());
    menu.addAction(tr("Select &All"), this, &ReceiveView::selectAll);
    menu.exec(event->globalPos());
}

void ReceiveView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReceiveView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ReceiveView::scrollContentsBy(int, int) {
    if (m_newDataBelow && endVisible())
        setNewDataBelow(false);
    viewport()->update();
}
