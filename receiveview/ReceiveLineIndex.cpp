#include "receiveview/ReceiveLineIndex.h"

#include "connection/ReceivedText.h"

#include <algorithm>

ReceiveLineIndex::ReceiveLineIndex() {
    reset(0);
}

void ReceiveLineIndex::reset(qint64 startByte) {
    m_startByte = startByte;
    m_indexedEnd = startByte;
    m_lengths.clear();
    m_lengths.push_back(0);
    m_longLines.clear();
    m_groups.clear();
    m_groups.push_back({startByte, 0, 0});
    m_lineCount = 1;
    m_openLength = 0;
    m_rowsBeforeOpen = 0;
    m_posBeforeOpen = 0;
}

void ReceiveLineIndex::extend(const ReceivedText& text) {
    if (text.asciiStart() != m_startByte || text.byteCount() < m_indexedEnd)
        reset(text.asciiStart());
    const qint64 end = text.byteCount();
    qint64 pos = m_indexedEnd;
    LongLine* longLine = nullptr;
    if (m_openLength >= MarkEvery)
        longLine = &m_longLines[m_lineCount - 1];
    // The next visible count at which the open line records a mark.
    qint64 nextMark = (m_openLength / MarkEvery + 1) * MarkEvery;
    while (pos < end) {
        const QByteArrayView piece = text.contiguousAt(pos);
        const qint64 n = std::min<qint64>(piece.size(), end - pos);
        const char* data = piece.data();
        for (qint64 i = 0; i < n; ++i) {
            const char c = data[i];
            if (c == '\n') {
                storeOpenLength();
                closeOpenLine(pos + i);
                longLine = nullptr;
                nextMark = MarkEvery;
                continue;
            }
            if (isHidden(c))
                continue;
            if (m_openLength == nextMark) {
                if (!longLine)
                    longLine = &m_longLines[m_lineCount - 1];
                longLine->marks.push_back(pos + i);
                nextMark += MarkEvery;
            }
            ++m_openLength;
        }
        pos += n;
    }
    storeOpenLength();
    m_indexedEnd = end;
}

void ReceiveLineIndex::storeOpenLength() {
    const qint64 line = m_lineCount - 1;
    if (m_openLength >= MarkEvery) {
        m_longLines[line].length = m_openLength;
        m_lengths[std::size_t(line)] = LongLength;
    } else {
        m_lengths[std::size_t(line)] = quint16(m_openLength);
    }
}

void ReceiveLineIndex::closeOpenLine(qint64 lfOffset) {
    m_rowsBeforeOpen += rowsOf(m_openLength);
    m_posBeforeOpen += m_openLength + 1;
    m_openLength = 0;
    m_lengths.push_back(0);
    if (m_lineCount % GroupLines == 0)
        m_groups.push_back({lfOffset + 1, m_posBeforeOpen, m_rowsBeforeOpen});
    ++m_lineCount;
}

void ReceiveLineIndex::setWrapWidth(int columns) {
    columns = std::max(1, columns);
    if (columns == m_width)
        return;
    m_width = columns;
    qint64 rows = 0;
    for (qint64 line = 0; line < m_lineCount; ++line) {
        if (line % GroupLines == 0)
            m_groups[std::size_t(line / GroupLines)].startRow = rows;
        if (line < m_lineCount - 1)
            rows += rowsOf(lineLength(line));
    }
    m_rowsBeforeOpen = rows;
}

qint64 ReceiveLineIndex::lineLength(qint64 line) const {
    if (line == m_lineCount - 1)
        return m_openLength;
    const quint16 length = m_lengths[std::size_t(line)];
    return length == LongLength ? m_longLines.at(line).length : length;
}

qint64 ReceiveLineIndex::lineStartPosition(qint64 line) const {
    const qint64 first = line - line % GroupLines;
    qint64 position = m_groups[std::size_t(line / GroupLines)].startPosition;
    for (qint64 j = first; j < line; ++j)
        position += lineLength(j) + 1;
    return position;
}

qint64 ReceiveLineIndex::lineFirstRow(qint64 line) const {
    const qint64 first = line - line % GroupLines;
    qint64 row = m_groups[std::size_t(line / GroupLines)].startRow;
    for (qint64 j = first; j < line; ++j)
        row += rowsOf(lineLength(j));
    return row;
}

qint64 ReceiveLineIndex::nextLineStart(const ReceivedText& text, qint64 line, qint64 start) const {
    if (lineLength(line) >= MarkEvery) {
        const auto& marks = m_longLines.at(line).marks;
        if (!marks.empty())
            start = marks.back();
    }
    const qint64 lf = text.indexOf('\n', start, m_indexedEnd);
    return lf < 0 ? m_indexedEnd : lf + 1;
}

qint64 ReceiveLineIndex::lineStartByte(const ReceivedText& text, qint64 line) const {
    const qint64 first = line - line % GroupLines;
    qint64 byte = m_groups[std::size_t(line / GroupLines)].startByte;
    for (qint64 j = first; j < line; ++j)
        byte = nextLineStart(text, j, byte);
    return byte;
}

std::pair<qint64, qint64> ReceiveLineIndex::lineOfRow(qint64 row) const {
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    auto group = std::upper_bound(m_groups.begin(), m_groups.end(), row,
                                  [](qint64 r, const Group& g) { return r < g.startRow; });
    const qint64 g = std::max<qint64>(0, (group - m_groups.begin()) - 1);
    qint64 first = m_groups[std::size_t(g)].startRow;
    for (qint64 line = g * GroupLines; line < m_lineCount; ++line) {
        const qint64 rows = rowsOf(lineLength(line));
        if (row < first + rows || line == m_lineCount - 1)
            return {line, std::min(row - first, rows - 1)};
        first += rows;
    }
    return {m_lineCount - 1, 0};
}

qint64 ReceiveLineIndex::lineOfPosition(qint64 position) const {
    position = std::clamp<qint64>(position, 0, displayLength());
    auto group = std::upper_bound(m_groups.begin(), m_groups.end(), position,
                                  [](qint64 p, const Group& g) { return p < g.startPosition; });
    const qint64 g = std::max<qint64>(0, (group - m_groups.begin()) - 1);
    qint64 start = m_groups[std::size_t(g)].startPosition;
    for (qint64 line = g * GroupLines; line < m_lineCount; ++line) {
        const qint64 length = lineLength(line);
        if (position <= start + length)
            return line;
        start += length + 1;
    }
    return m_lineCount - 1;
}

qint64 ReceiveLineIndex::byteOfColumn(const ReceivedText& text, qint64 line, qint64 column) const {
    qint64 byte = lineStartByte(text, line);
    qint64 visible = 0;
    if (column >= MarkEvery && lineLength(line) >= MarkEvery) {
        const auto& marks = m_longLines.at(line).marks;
        const qint64 k = std::min<qint64>(column / MarkEvery, qint64(marks.size()));
        if (k > 0) {
            byte = marks[std::size_t(k - 1)];
            visible = k * MarkEvery;
        }
    }
    for (; byte < m_indexedEnd; ++byte) {
        const char c = text.at(byte);
        if (c == '\n')
            return byte;
        if (isHidden(c))
            continue;
        if (visible == column)
            return byte;
        ++visible;
    }
    return m_indexedEnd;
}

qint64 ReceiveLineIndex::positionOfByte(const ReceivedText& text, qint64 byte) const {
    byte = std::clamp(byte, m_startByte, m_indexedEnd);
    auto group = std::upper_bound(m_groups.begin(), m_groups.end(), byte,
                                  [](qint64 b, const Group& g) { return b < g.startByte; });
    const qint64 g = std::max<qint64>(0, (group - m_groups.begin()) - 1);
    qint64 line = g * GroupLines;
    qint64 start = m_groups[std::size_t(g)].startByte;
    qint64 position = m_groups[std::size_t(g)].startPosition;
    while (line < m_lineCount - 1) {
        const qint64 next = nextLineStart(text, line, start);
        if (byte < next)
            break;
        position += lineLength(line) + 1;
        start = next;
        ++line;
    }
    // Visible characters between the line's start and the byte; long lines start at a mark.
    qint64 from = start;
    qint64 visible = 0;
    if (lineLength(line) >= MarkEvery) {
        const auto& marks = m_longLines.at(line).marks;
        auto after = std::upper_bound(marks.begin(), marks.end(), byte);
        if (after != marks.begin()) {
            from = *std::prev(after);
            visible = (after - marks.begin()) * MarkEvery;
        }
    }
    for (qint64 b = from; b < byte; ++b) {
        const char c = text.at(b);
        if (c == '\n')
            break;
        if (!isHidden(c))
            ++visible;
    }
    return position + std::min(visible, lineLength(line));
}
