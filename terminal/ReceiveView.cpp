#include "terminal/ReceiveView.h"

#include "terminal/ReceiveViewAccessible.h"
#include "terminal/ReceivedText.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int Margin = 2;
constexpr int FrameMs = 16;
// Double-click looks this far either side for the ends of a word.
constexpr qint64 WordReach = 256;
// "HH:mm:ss.zzz" and a blank cell.
constexpr int TimestampCells = 13;
// Dump rows: "00000000  " before the hex groups, 16 groups, one blank, 16 characters.
constexpr int DumpOffsetCells = 10;
constexpr qint64 DumpBytesPerRow = 16;
constexpr int DumpCharsColumn = 3 * DumpBytesPerRow + 1;

// Control characters have no glyph of the cell's width: they show as a blank cell.
QChar shownChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || (u >= 0x7F && u < 0xA0))
        return QLatin1Char(' ');
    return QChar(u);
}

} // namespace

ReceiveView::ReceiveView(QWidget* parent) : QAbstractScrollArea(parent) {
    ReceiveViewAccessible::install();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(FrameMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ReceiveView::onFrame);
    updateMetrics();
}

ReceiveView::~ReceiveView() = default;

void ReceiveView::setSource(const ReceivedText* text) {
    m_text = text;
    contentReset();
}

// --- content ---------------------------------------------------------------------------------

void ReceiveView::setFormat(Format format) {
    m_format = format;
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    scheduleFrame();
}

void ReceiveView::contentAppended() {
    if (!m_text)
        return;
    const bool follow = followsNow();
    const qint64 asciiStart = m_index.startByte();
    m_index.extend(*m_text);
    if (m_index.startByte() != asciiStart && m_format == Format::Ascii)
        m_resetPending = true;
    if (follow) {
        const qint64 end = textLength();
        setCaretInternal(end, end, true);
        return;
    }
    // Held: caret, selection and scroll position stay where the user has them.
    setCaretInternal(m_anchor, m_caret, false);
    m_newDataBelow = true;
    scheduleFrame();
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
    if (on == m_timestamps)
        return;
    m_timestamps = on;
    relayout();
}

void ReceiveView::setHexDump(bool on) {
    if (on == m_hexDump)
        return;
    m_hexDump = on;
    relayout();
}

// The cells of a row changed: wrap again, keep the caret in sight.
void ReceiveView::relayout() {
    m_index.setWrapWidth(columns());
    m_scrollToCaret = true;
    updateScrollBar();
    scheduleFrame();
    viewport()->update();
}

qint64 ReceiveView::positionOfByte(qint64 byte) const {
    if (m_blank || !m_text)
        return 0;
    if (m_format == Format::Hex)
        return std::clamp<qint64>(3 * byte, 0, textLength());
    return m_index.positionOfByte(*m_text, byte);
}

qint64 ReceiveView::byteOfPosition(qint64 position) const {
    if (m_blank || !m_text)
        return 0;
    position = std::clamp<qint64>(position, 0, textLength());
    if (m_format == Format::Hex)
        return position / 3;
    const qint64 line = m_index.lineOfPosition(position);
    return m_index.byteOfColumn(*m_text, line, position - m_index.lineStartPosition(line));
}

void ReceiveView::showMatch(qint64 firstByte, qint64 endByte) {
    const qint64 from = positionOfByte(firstByte);
    // In hex the match ends after its last digits, not after the space that follows them.
    const qint64 to = m_format == Format::Hex ? std::max(from, positionOfByte(endByte) - 1)
                                              : positionOfByte(endByte);
    setSelection(from, to);
}

void ReceiveView::contentReset() {
    m_newDataBelow = false;
    m_index.reset(m_text ? m_text->asciiStart() : 0);
    if (m_text)
        m_index.extend(*m_text);
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    scheduleFrame();
}

void ReceiveView::setBlank(bool blank) {
    if (blank == m_blank)
        return;
    m_blank = blank;
    m_resetPending = true;
    setCaretInternal(0, 0, true);
    updateScrollBar();
    viewport()->update();
}

qint64 ReceiveView::textLength() const {
    if (m_blank || !m_text)
        return 0;
    if (m_format == Format::Ascii)
        return m_index.displayLength();
    return 3 * m_index.indexedEnd();
}

QString ReceiveView::textRange(qint64 from, qint64 to) const {
    const qint64 length = textLength();
    from = std::clamp<qint64>(from, 0, length);
    to = std::clamp<qint64>(to, from, length);
    if (from == to)
        return {};
    if (m_format == Format::Hex) {
        const qint64 first = from / 3;
        const qint64 last = (to + 2) / 3;
        const QByteArray hex = ReceivedText::hexChunk(m_text->bytes(first, last));
        return QString::fromLatin1(hex.constData() + (from - 3 * first), to - from);
    }
    const qint64 line = m_index.lineOfPosition(from);
    qint64 byte = m_index.byteOfColumn(*m_text, line, from - m_index.lineStartPosition(line));
    QString out;
    out.reserve(to - from);
    const qint64 end = m_index.indexedEnd();
    while (out.size() < to - from && byte < end) {
        const QByteArrayView piece = m_text->contiguousAt(byte);
        const qint64 n = std::min<qint64>(piece.size(), end - byte);
        qint64 i = 0;
        for (; i < n && out.size() < to - from; ++i) {
            if (!ReceiveLineIndex::isHidden(piece[i]))
                out.append(QChar(static_cast<unsigned char>(piece[i])));
        }
        byte += i;
    }
    return out;
}

// --- caret and selection -----------------------------------------------------------------------

void ReceiveView::setCaretInternal(qint64 anchor, qint64 caret, bool scroll) {
    const qint64 length = textLength();
    anchor = std::clamp<qint64>(anchor, 0, length);
    caret = std::clamp<qint64>(caret, 0, length);
    const bool changed = anchor != m_anchor || caret != m_caret;
    m_anchor = anchor;
    m_caret = caret;
    if (scroll)
        m_scrollToCaret = true;
    scheduleFrame();
    if (changed)
        emit selectionChanged();
}

void ReceiveView::setCaretPosition(qint64 position) {
    m_goalColumn = -1;
    setCaretInternal(position, position, true);
}

void ReceiveView::setSelection(qint64 anchor, qint64 caret) {
    m_goalColumn = -1;
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
    m_cellFont = font();
    if (!QFontInfo(m_cellFont).fixedPitch()) {
        // The cells must line up: fall back on the system's fixed-pitch face at the same size.
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (m_cellFont.pixelSize() > 0)
            fixed.setPixelSize(m_cellFont.pixelSize());
        else if (m_cellFont.pointSizeF() > 0)
            fixed.setPointSizeF(m_cellFont.pointSizeF());
        m_cellFont = fixed;
    }
    m_cellFont.setKerning(false);
    // Every glyph of a row must land on the cell grid that hit testing uses: the advance is
    // rounded up to whole pixels and the difference given as letter spacing.
    const qreal advance = QFontMetricsF(m_cellFont).horizontalAdvance(QLatin1Char('M'));
    m_cellWidth = std::max(1, int(std::ceil(advance)));
    m_cellFont.setLetterSpacing(QFont::AbsoluteSpacing, m_cellWidth - advance);
    const QFontMetricsF metrics(m_cellFont);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = int(std::ceil(metrics.ascent()));
    updateWrapWidth();
    viewport()->update();
}

int ReceiveView::totalCells() const {
    return std::max(1, (viewport()->width() - 2 * Margin) / m_cellWidth);
}

int ReceiveView::gutterCells() const {
    return m_timestamps ? TimestampCells : 0;
}

int ReceiveView::textCellOffset() const {
    return gutterCells() + (dumpActive() ? DumpOffsetCells : 0);
}

int ReceiveView::columns() const {
    return std::max(1, totalCells() - gutterCells());
}

int ReceiveView::visibleRowCount() const {
    return std::max(1, (viewport()->height() - Margin) / m_lineHeight);
}

qint64 ReceiveView::bytesPerHexRow() const {
    if (dumpActive())
        return DumpBytesPerRow;
    // A group's trailing space may hang past the edge, as word wrapping would allow.
    return std::max(1, (columns() + 1) / 3);
}

qint64 ReceiveView::rowCount() const {
    if (m_blank || !m_text)
        return 1;
    if (m_format == Format::Ascii)
        return m_index.rowCount();
    const qint64 bytes = m_index.indexedEnd();
    const qint64 perRow = bytesPerHexRow();
    return std::max<qint64>(1, (bytes + perRow - 1) / perRow);
}

qint64 ReceiveView::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

qint64 ReceiveView::rowStartPosition(qint64 row) const {
    if (m_blank || !m_text)
        return 0;
    if (m_format == Format::Hex)
        return std::min(3 * row * bytesPerHexRow(), textLength());
    const auto [line, rowInLine] = m_index.lineOfRow(row);
    return m_index.lineStartPosition(line) + rowInLine * m_index.wrapWidth();
}

qint64 ReceiveView::rowLength(qint64 row) const {
    if (m_blank || !m_text)
        return 0;
    if (m_format == Format::Hex)
        return std::min(3 * bytesPerHexRow(), textLength() - rowStartPosition(row));
    const auto [line, rowInLine] = m_index.lineOfRow(row);
    const qint64 width = m_index.wrapWidth();
    return std::clamp<qint64>(m_index.lineLength(line) - rowInLine * width, 0, width);
}

qint64 ReceiveView::positionOfRowColumn(qint64 row, qint64 column) const {
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    return rowStartPosition(row) + std::clamp<qint64>(column, 0, rowLength(row));
}

qint64 ReceiveView::rowOfPosition(qint64 position) const {
    if (m_blank || !m_text)
        return 0;
    position = std::clamp<qint64>(position, 0, textLength());
    if (m_format == Format::Hex)
        return std::min(position / (3 * bytesPerHexRow()), rowCount() - 1);
    const qint64 line = m_index.lineOfPosition(position);
    const qint64 column = position - m_index.lineStartPosition(line);
    const qint64 rows = m_index.rowsOf(m_index.lineLength(line));
    return m_index.lineFirstRow(line) + std::min(column / m_index.wrapWidth(), rows - 1);
}

std::vector<ReceiveView::Row> ReceiveView::layoutRows(qint64 firstRow, qint64 count) const {
    std::vector<Row> rows;
    const qint64 total = rowCount();
    firstRow = std::clamp<qint64>(firstRow, 0, total - 1);
    count = std::min(count, total - firstRow);
    if (m_blank || !m_text || count <= 0) {
        rows.push_back({});
        return rows;
    }
    rows.reserve(std::size_t(count));
    if (m_format == Format::Hex) {
        const qint64 perRow = bytesPerHexRow();
        const qint64 bytes = m_index.indexedEnd();
        for (qint64 r = firstRow; r < firstRow + count; ++r) {
            const qint64 first = r * perRow;
            const QByteArray hex =
                ReceivedText::hexChunk(m_text->bytes(first, std::min(bytes, first + perRow)));
            rows.push_back({3 * first, QString::fromLatin1(hex)});
        }
        return rows;
    }
    const qint64 width = m_index.wrapWidth();
    const qint64 end = m_index.indexedEnd();
    const auto [line, rowInLine] = m_index.lineOfRow(firstRow);
    qint64 byte = m_index.byteOfColumn(*m_text, line, rowInLine * width);
    qint64 position = m_index.lineStartPosition(line) + rowInLine * width;
    for (qint64 r = 0; r < count; ++r) {
        Row row;
        row.startPosition = position;
        row.text.reserve(width);
        bool lineEnded = false;
        while (row.text.size() < width && byte < end) {
            const char c = m_text->at(byte++);
            if (c == '\n') {
                ++position;
                lineEnded = true;
                break;
            }
            if (ReceiveLineIndex::isHidden(c))
                continue;
            row.text.append(shownChar(c));
            ++position;
        }
        if (!lineEnded && row.text.size() == width) {
            // A line exactly as long as the row ends here: its LF belongs to this row.
            qint64 next = byte;
            while (next < end && ReceiveLineIndex::isHidden(m_text->at(next)))
                ++next;
            if (next < end && m_text->at(next) == '\n') {
                byte = next + 1;
                ++position;
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

QString ReceiveView::rowText(qint64 row) const {
    return layoutRows(row, 1).front().text;
}

qint64 ReceiveView::positionAt(const QPoint& point) const {
    const qint64 row =
        firstVisibleRow() + qint64(std::floor(double(point.y() - Margin) / m_lineHeight));
    const double cell = double(point.x() - Margin) / m_cellWidth - textCellOffset();
    if (dumpActive() && cell >= DumpCharsColumn - 1) {
        // In the characters: the position before that byte's digits.
        const qint64 index =
            std::clamp<qint64>(qint64(std::floor(cell - DumpCharsColumn)), 0, DumpBytesPerRow - 1);
        return positionOfRowColumn(row, 3 * index);
    }
    return positionOfRowColumn(row, std::lround(cell));
}

QRect ReceiveView::positionRect(qint64 position) const {
    const qint64 row = rowOfPosition(position);
    const qint64 column = position - rowStartPosition(row);
    const qint64 y = Margin + (row - firstVisibleRow()) * m_lineHeight;
    return QRect(int(Margin + (textCellOffset() + column) * m_cellWidth),
                 int(std::clamp<qint64>(y, INT_MIN / 2, INT_MAX / 2)), m_cellWidth, m_lineHeight);
}

void ReceiveView::updateWrapWidth() {
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_index.setWrapWidth(columns());
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

void ReceiveView::scheduleFrame() {
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void ReceiveView::onFrame() {
    updateScrollBar();
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        ensureCaretVisible();
    }
    if (m_newDataBelow && endVisible())
        m_newDataBelow = false;
    notifyAccessibility();
    viewport()->update();
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

QString ReceiveView::gutterText(qint64 row) const {
    if (!m_timestamps || m_blank || !m_text)
        return {};
    qint64 byte = -1;
    if (m_format == Format::Hex) {
        byte = row * bytesPerHexRow();
    } else {
        const auto [line, rowInLine] = m_index.lineOfRow(row);
        if (rowInLine != 0)
            return {};
        byte = m_index.lineStartByte(*m_text, line);
    }
    if (byte < 0 || byte >= m_index.indexedEnd())
        return {};
    const qint64 ms = m_text->arrivalTime(byte);
    if (ms < 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString ReceiveView::dumpOffsetText(qint64 row) const {
    return QString::number(row * DumpBytesPerRow, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString ReceiveView::dumpCharsText(qint64 row) const {
    const qint64 first = row * DumpBytesPerRow;
    const QByteArray bytes =
        m_text->bytes(first, std::min(m_index.indexedEnd(), first + DumpBytesPerRow));
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out.append(u >= 0x20 && u < 0x7F ? QChar(u) : QLatin1Char('.'));
    }
    return out;
}

QString ReceiveView::shownRowText(qint64 row) const {
    QString out;
    if (m_timestamps)
        out = gutterText(row).leftJustified(TimestampCells, QLatin1Char(' '));
    const QString text = rowText(row);
    if (!dumpActive() || m_blank || !m_text || text.isEmpty())
        return out + text;
    return out + dumpOffsetText(row) + QStringLiteral("  ") +
           text.leftJustified(DumpCharsColumn, QLatin1Char(' ')) + dumpCharsText(row);
}

void ReceiveView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.fillRect(viewport()->rect(), pal.brush(QPalette::Base));
    painter.setFont(m_cellFont);
    const qint64 top = firstVisibleRow();
    const std::vector<Row> rows = layoutRows(top, visibleRowCount() + 1);
    const qint64 selStart = selectionStart();
    const qint64 selEnd = selectionEnd();
    const bool dump = dumpActive() && !m_blank && m_text;
    const int textX = Margin + textCellOffset() * m_cellWidth;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const qint64 rowNumber = top + qint64(i);
        const int y = Margin + int(i) * m_lineHeight;
        const qint64 from = std::max(selStart, row.startPosition) - row.startPosition;
        const qint64 to = std::min(selEnd, row.startPosition + row.text.size()) - row.startPosition;
        const qsizetype length = row.text.size();
        const qsizetype a = qsizetype(std::clamp<qint64>(from, 0, length));
        const qsizetype b = qsizetype(std::clamp<qint64>(to, a, length));
        if (m_timestamps) {
            painter.setPen(pal.color(QPalette::PlaceholderText));
            painter.drawText(QPoint(Margin, y + m_ascent), gutterText(rowNumber));
        }
        if (dump && length > 0) {
            painter.setPen(pal.color(QPalette::PlaceholderText));
            painter.drawText(QPoint(Margin + gutterCells() * m_cellWidth, y + m_ascent),
                             dumpOffsetText(rowNumber));
            // The characters of the selected bytes are marked too.
            const int charsX = textX + DumpCharsColumn * m_cellWidth;
            if (b > a) {
                const int c0 = int(a / 3);
                const int c1 = int((b + 2) / 3);
                painter.fillRect(
                    QRect(charsX + c0 * m_cellWidth, y, (c1 - c0) * m_cellWidth, m_lineHeight),
                    pal.brush(QPalette::Highlight));
            }
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(QPoint(charsX, y + m_ascent), dumpCharsText(rowNumber));
        }
        if (b > a)
            painter.fillRect(
                QRect(textX + int(a) * m_cellWidth, y, int(b - a) * m_cellWidth, m_lineHeight),
                pal.brush(QPalette::Highlight));
        // Up to three runs: before, inside and after the selection.
        const qsizetype cuts[] = {0, a, b, length};
        for (int k = 0; k < 3; ++k) {
            if (cuts[k + 1] <= cuts[k])
                continue;
            painter.setPen(pal.color(k == 1 ? QPalette::HighlightedText : QPalette::Text));
            painter.drawText(QPoint(textX + int(cuts[k]) * m_cellWidth, y + m_ascent),
                             row.text.mid(cuts[k], cuts[k + 1] - cuts[k]));
        }
    }
    if (hasFocus() && !m_blank && !hasSelection()) {
        const QRect caret = positionRect(m_caret);
        painter.fillRect(QRect(caret.x(), caret.y(), 1, caret.height()), pal.brush(QPalette::Text));
    }
    if (m_newDataBelow) {
        // The view is held: a band at its foot says that more has arrived below.
        const QString note = tr("New data below (Ctrl+End)");
        const int h = m_lineHeight + 2;
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

void ReceiveView::moveCaret(qint64 position, bool extend) {
    setCaretInternal(extend ? m_anchor : position, position, true);
}

qint64 ReceiveView::lineStartOf(qint64 position) const {
    if (m_format == Format::Hex)
        return rowStartPosition(rowOfPosition(position));
    return m_index.lineStartPosition(m_index.lineOfPosition(position));
}

qint64 ReceiveView::lineEndOf(qint64 position) const {
    if (m_format == Format::Hex) {
        // A hex row is a line; its end is after the last pair of digits, before the space.
        const qint64 row = rowOfPosition(position);
        return rowStartPosition(row) + std::max<qint64>(0, rowLength(row) - 1);
    }
    const qint64 line = m_index.lineOfPosition(position);
    return m_index.lineStartPosition(line) + m_index.lineLength(line);
}

qint64 ReceiveView::wordBoundary(qint64 position, bool forward) const {
    const qint64 length = textLength();
    const qint64 from = std::max<qint64>(0, position - WordReach);
    const QString around = textRange(from, std::min(length, position + WordReach));
    qint64 i = position - from;
    const auto isWord = [&around](qint64 k) { return !around[k].isSpace(); };
    if (forward) {
        // To the start of the next word, as text views do.
        while (i < around.size() && isWord(i))
            ++i;
        while (i < around.size() && !isWord(i))
            ++i;
    } else {
        while (i > 0 && !isWord(i - 1))
            --i;
        while (i > 0 && isWord(i - 1))
            --i;
    }
    return from + i;
}

qint64 ReceiveView::verticalTarget(qint64 rows) {
    const qint64 row = rowOfPosition(m_caret);
    if (m_goalColumn < 0)
        m_goalColumn = m_caret - rowStartPosition(row);
    const qint64 target = std::clamp<qint64>(row + rows, 0, rowCount() - 1);
    if (target == row)
        return rows < 0 ? 0 : textLength();
    return positionOfRowColumn(target, m_goalColumn);
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

    // Caret moves, alone or extending the selection from its anchor.
    enum class Move {
        None,
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        PageUp,
        PageDown,
        LineStart,
        LineEnd,
        Start,
        End
    };
    struct Binding {
        QKeySequence::StandardKey key;
        Move move;
        bool extend;
    };
    static const Binding bindings[] = {
        {QKeySequence::MoveToPreviousChar, Move::Left, false},
        {QKeySequence::MoveToNextChar, Move::Right, false},
        {QKeySequence::MoveToPreviousWord, Move::WordLeft, false},
        {QKeySequence::MoveToNextWord, Move::WordRight, false},
        {QKeySequence::MoveToPreviousLine, Move::Up, false},
        {QKeySequence::MoveToNextLine, Move::Down, false},
        {QKeySequence::MoveToPreviousPage, Move::PageUp, false},
        {QKeySequence::MoveToNextPage, Move::PageDown, false},
        {QKeySequence::MoveToStartOfLine, Move::LineStart, false},
        {QKeySequence::MoveToEndOfLine, Move::LineEnd, false},
        {QKeySequence::MoveToStartOfDocument, Move::Start, false},
        {QKeySequence::MoveToEndOfDocument, Move::End, false},
        {QKeySequence::SelectPreviousChar, Move::Left, true},
        {QKeySequence::SelectNextChar, Move::Right, true},
        {QKeySequence::SelectPreviousWord, Move::WordLeft, true},
        {QKeySequence::SelectNextWord, Move::WordRight, true},
        {QKeySequence::SelectPreviousLine, Move::Up, true},
        {QKeySequence::SelectNextLine, Move::Down, true},
        {QKeySequence::SelectPreviousPage, Move::PageUp, true},
        {QKeySequence::SelectNextPage, Move::PageDown, true},
        {QKeySequence::SelectStartOfLine, Move::LineStart, true},
        {QKeySequence::SelectEndOfLine, Move::LineEnd, true},
        {QKeySequence::SelectStartOfDocument, Move::Start, true},
        {QKeySequence::SelectEndOfDocument, Move::End, true},
    };
    Move move = Move::None;
    bool extend = false;
    for (const Binding& b : bindings) {
        if (event->matches(b.key)) {
            move = b.move;
            extend = b.extend;
            break;
        }
    }
    if (move == Move::None || m_blank) {
        // Everything else goes on to the dialog (Enter, Escape, Tab).
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool vertical =
        move == Move::Up || move == Move::Down || move == Move::PageUp || move == Move::PageDown;
    if (!vertical)
        m_goalColumn = -1;
    const qint64 page = std::max(1, visibleRowCount() - 1);
    qint64 target = m_caret;
    switch (move) {
    case Move::Left:
        // Without Shift a selection collapses to its start, as text views do.
        target = (!extend && hasSelection()) ? selectionStart() : m_caret - 1;
        break;
    case Move::Right:
        target = (!extend && hasSelection()) ? selectionEnd() : m_caret + 1;
        break;
    case Move::WordLeft:
        target = wordBoundary(m_caret, false);
        break;
    case Move::WordRight:
        target = wordBoundary(m_caret, true);
        break;
    case Move::Up:
        target = verticalTarget(-1);
        break;
    case Move::Down:
        target = verticalTarget(1);
        break;
    case Move::PageUp: {
        target = verticalTarget(-page);
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(int(std::max<qint64>(0, bar->value() - page)));
        break;
    }
    case Move::PageDown: {
        target = verticalTarget(page);
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(int(std::min<qint64>(bar->maximum(), bar->value() + page)));
        break;
    }
    case Move::LineStart:
        target = lineStartOf(m_caret);
        break;
    case Move::LineEnd:
        target = lineEndOf(m_caret);
        break;
    case Move::Start:
        target = 0;
        break;
    case Move::End:
        target = textLength();
        break;
    case Move::None:
        break;
    }
    moveCaret(target, extend);
    viewport()->update();
}

void ReceiveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 position = positionAt(event->position().toPoint());
    m_goalColumn = -1;
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
    const qint64 position = positionAt(event->position().toPoint());
    const qint64 from = std::max<qint64>(0, position - WordReach);
    const QString around = textRange(from, position + WordReach);
    const qint64 at = position - from;
    auto isWord = [&around](qint64 i) { return !around[i].isSpace(); };
    qint64 start = at;
    while (start > 0 && isWord(start - 1))
        --start;
    qint64 end = at;
    while (end < around.size() && isWord(end))
        ++end;
    setCaretInternal(from + start, from + end, false);
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
        m_newDataBelow = false;
    viewport()->update();
}
