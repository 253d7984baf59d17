#pragma once

#include "receiveview/CellTextPainter.h"

#include <QFont>
#include <QRect>

#include <algorithm>

class QPainter;
class QPalette;
class ReceiveLayout;

// The fixed-pitch cell grid the receive view draws on: its font and metrics, which cell a point
// falls in, and the painting of rows with their time column, dump offsets and selection.
// Every glyph lands on the grid that hit testing uses.
class ReceiveCellGrid {
public:
    static constexpr int Margin = 2;

    // Takes the widget's font, or the system's fixed-pitch face at its size if it is not one.
    void setFont(const QFont& font);
    int lineHeight() const { return m_lineHeight; }

    int cellsAcross(int width) const { return std::max(1, (width - 2 * Margin) / m_cellWidth); }
    int rowsDown(int height) const { return std::max(1, (height - Margin) / m_lineHeight); }

    // Text positions and viewport points, with firstRow at the top.
    qint64 positionAt(const ReceiveLayout& layout, qint64 firstRow, const QPoint& point) const;
    QRect positionRect(const ReceiveLayout& layout, qint64 firstRow, qint64 position) const;

    // Paints count rows from firstRow, the text positions [selStart, selEnd) selected.
    void paintRows(QPainter& painter, const QPalette& pal, const ReceiveLayout& layout,
                   qint64 firstRow, qint64 count, qint64 selStart, qint64 selEnd) const;

private:
    QFont m_font;
    int m_cellWidth = 8;
    int m_lineHeight = 16;
    int m_ascent = 12;
    CellTextPainter m_cells;
};
