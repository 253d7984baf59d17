#pragma once

#include <QFont>
#include <QRawFont>
#include <QStringView>

#include <array>

class QPainter;
class QPoint;

// Draws rows of the receive view, one character per cell of a fixed grid. Latin-1 text, all the
// view shows, goes out as glyphs placed on the grid, without the text shaping that drawText does
// for every call: at a real adapter's rate the view paints every frame, and shaping each row
// again was most of the window thread's time. Text the font has no glyph for is drawn by
// drawText, which finds another font.
class CellTextPainter {
public:
    void setFont(const QFont& font, int cellWidth);
    // baseline: the left end of the text's baseline, in the painter's coordinates.
    void draw(QPainter& painter, const QPoint& baseline, QStringView text) const;

private:
    QFont m_font;
    QRawFont m_rawFont;
    int m_cellWidth = 1;
    // Glyph of each Latin-1 character; 0 when the font has none.
    std::array<quint32, 256> m_glyphs{};
};
