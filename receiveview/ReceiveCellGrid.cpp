#include "receiveview/ReceiveCellGrid.h"

#include "receiveview/ReceiveLayout.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <climits>
#include <cmath>

void ReceiveCellGrid::setFont(const QFont& font) {
    m_font = font;
    if (!QFontInfo(m_font).fixedPitch()) {
        // The cells must line up: fall back on the system's fixed-pitch face at the same size.
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (m_font.pixelSize() > 0)
            fixed.setPixelSize(m_font.pixelSize());
        else if (m_font.pointSizeF() > 0)
            fixed.setPointSizeF(m_font.pointSizeF());
        m_font = fixed;
    }
    m_font.setKerning(false);
    // Every glyph of a row must land on the cell grid that hit testing uses: the advance is
    // rounded up to whole pixels and the difference given as letter spacing.
    const qreal advance = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char('M'));
    m_cellWidth = std::max(1, int(std::ceil(advance)));
    m_font.setLetterSpacing(QFont::AbsoluteSpacing, m_cellWidth - advance);
    const QFontMetricsF metrics(m_font);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = int(std::ceil(metrics.ascent()));
    m_cells.setFont(m_font, m_cellWidth);
}

qint64 ReceiveCellGrid::positionAt(const ReceiveLayout& layout, qint64 firstRow,
                                   const QPoint& point) const {
    const qint64 row = firstRow + qint64(std::floor(double(point.y() - Margin) / m_lineHeight));
    const double cell = double(point.x() - Margin) / m_cellWidth - layout.textCellOffset();
    if (layout.dumpActive() && cell >= ReceiveLayout::DumpCharsColumn - 1) {
        // In the characters: the position before that byte's digits.
        const qint64 index =
            std::clamp<qint64>(qint64(std::floor(cell - ReceiveLayout::DumpCharsColumn)), 0,
                               ReceiveLayout::DumpBytesPerRow - 1);
        return layout.positionOfRowColumn(row, 3 * index);
    }
    return layout.positionOfRowColumn(row, std::lround(cell));
}

QRect ReceiveCellGrid::positionRect(const ReceiveLayout& layout, qint64 firstRow,
                                    qint64 position) const {
    const qint64 row = layout.rowOfPosition(position);
    const qint64 column = position - layout.rowStartPosition(row);
    const qint64 y = Margin + (row - firstRow) * m_lineHeight;
    return QRect(int(Margin + (layout.textCellOffset() + column) * m_cellWidth),
                 int(std::clamp<qint64>(y, INT_MIN / 2, INT_MAX / 2)), m_cellWidth, m_lineHeight);
}

void ReceiveCellGrid::paintRows(QPainter& painter, const QPalette& pal, const ReceiveLayout& layout,
                                qint64 firstRow, qint64 count, qint64 selStart,
                                qint64 selEnd) const {
    painter.setFont(m_font);
    const std::vector<ReceiveLayout::Row> rows = layout.layoutRows(firstRow, count);
    const bool dump = layout.dumpActive() && layout.showsText();
    const int textX = Margin + layout.textCellOffset() * m_cellWidth;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ReceiveLayout::Row& row = rows[i];
        const qint64 rowNumber = firstRow + qint64(i);
        const int y = Margin + int(i) * m_lineHeight;
        const qint64 from = std::max(selStart, row.startPosition) - row.startPosition;
        const qint64 to = std::min(selEnd, row.startPosition + row.text.size()) - row.startPosition;
        const qsizetype length = row.text.size();
        const qsizetype a = qsizetype(std::clamp<qint64>(from, 0, length));
        const qsizetype b = qsizetype(std::clamp<qint64>(to, a, length));
        if (layout.timestamps()) {
            painter.setPen(pal.color(QPalette::PlaceholderText));
            m_cells.draw(painter, QPoint(Margin, y + m_ascent), layout.gutterText(rowNumber));
        }
        if (dump && length > 0) {
            painter.setPen(pal.color(QPalette::PlaceholderText));
            m_cells.draw(painter, QPoint(Margin + layout.gutterCells() * m_cellWidth, y + m_ascent),
                         layout.dumpOffsetText(rowNumber));
            // The characters of the selected bytes are marked too.
            const int charsX = textX + ReceiveLayout::DumpCharsColumn * m_cellWidth;
            if (b > a) {
                const int c0 = int(a / 3);
                const int c1 = int((b + 2) / 3);
                painter.fillRect(
                    QRect(charsX + c0 * m_cellWidth, y, (c1 - c0) * m_cellWidth, m_lineHeight),
                    pal.brush(QPalette::Highlight));
            }
            painter.setPen(pal.color(QPalette::Text));
            m_cells.draw(painter, QPoint(charsX, y + m_ascent), layout.dumpCharsText(rowNumber));
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
            m_cells.draw(painter, QPoint(textX + int(cuts[k]) * m_cellWidth, y + m_ascent),
                         QStringView(row.text).mid(cuts[k], cuts[k + 1] - cuts[k]));
        }
    }
}
