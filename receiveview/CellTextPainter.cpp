#include "receiveview/CellTextPainter.h"

#include <QGlyphRun>
#include <QPainter>
#include <QPoint>
#include <QString>

#include <algorithm>

void CellTextPainter::setFont(const QFont& font, int cellWidth) {
    m_font = font;
    m_cellWidth = std::max(1, cellWidth);
    m_rawFont = QRawFont::fromFont(font);
    m_glyphs.fill(0);
    if (!m_rawFont.isValid())
        return;
    for (int c = 0x20; c < 0x100; ++c) {
        const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(QString(QChar(c)));
        if (glyphs.size() == 1)
            m_glyphs[std::size_t(c)] = glyphs.front();
    }
}

void CellTextPainter::draw(QPainter& painter, const QPoint& baseline, QStringView text) const {
    if (text.isEmpty())
        return;
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(text.size());
    positions.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u' ')
            continue;
        const quint32 glyph = u < 0x100 ? m_glyphs[u] : 0;
        if (glyph == 0) {
            // Not in this font (or not Latin-1): the slow way, which falls back on others.
            painter.setFont(m_font);
            painter.drawText(baseline, text.toString());
            return;
        }
        glyphs.push_back(glyph);
        positions.emplace_back(qreal(i * m_cellWidth), 0);
    }
    if (glyphs.empty())
        return;
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(baseline), run);
}
