#include "receiveview/ReceiveLayout.h"

#include "connection/ReceivedText.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Double-click and word moves look this far either side for the ends of a word.
constexpr qint64 WordReach = 256;

// Control characters have no glyph of the cell's width: they show as a blank cell.
QChar shownChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || (u >= 0x7F && u < 0xA0))
        return QLatin1Char(' ');
    return QChar(u);
}

} // namespace

ReceiveLayout::ReceiveLayout(std::function<int()> cellsAcross)
    : m_cellsAcross(std::move(cellsAcross)) {}

void ReceiveLayout::reset() {
    m_index.reset(m_text ? m_text->asciiStart() : 0);
    if (m_text)
        m_index.extend(*m_text);
}

bool ReceiveLayout::extend() {
    const qint64 asciiStart = m_index.startByte();
    m_index.extend(*m_text);
    return m_index.startByte() != asciiStart && m_format == Format::Ascii;
}

void ReceiveLayout::rewrap() {
    m_index.setWrapWidth(columns());
}

// --- text and positions ------------------------------------------------------------------------

qint64 ReceiveLayout::positionOfByte(qint64 byte) const {
    if (!showsText())
        return 0;
    if (m_format == Format::Hex)
        return std::clamp<qint64>(3 * byte, 0, textLength());
    return m_index.positionOfByte(*m_text, byte);
}

qint64 ReceiveLayout::byteOfPosition(qint64 position) const {
    if (!showsText())
        return 0;
    position = std::clamp<qint64>(position, 0, textLength());
    if (m_format == Format::Hex)
        return position / 3;
    const qint64 line = m_index.lineOfPosition(position);
    return m_index.byteOfColumn(*m_text, line, position - m_index.lineStartPosition(line));
}

qint64 ReceiveLayout::textLength() const {
    if (!showsText())
        return 0;
    if (m_format == Format::Ascii)
        return m_index.displayLength();
    return 3 * m_index.indexedEnd();
}

QString ReceiveLayout::textRange(qint64 from, qint64 to) const {
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

// --- rows --------------------------------------------------------------------------------------

int ReceiveLayout::columns() const {
    return std::max(1, m_cellsAcross() - gutterCells());
}

qint64 ReceiveLayout::bytesPerHexRow() const {
    if (dumpActive())
        return DumpBytesPerRow;
    // A group's trailing space may hang past the edge, as word wrapping would allow.
    return std::max(1, (columns() + 1) / 3);
}

qint64 ReceiveLayout::rowCount() const {
    if (!showsText())
        return 1;
    if (m_format == Format::Ascii)
        return m_index.rowCount();
    const qint64 bytes = m_index.indexedEnd();
    const qint64 perRow = bytesPerHexRow();
    return std::max<qint64>(1, (bytes + perRow - 1) / perRow);
}

qint64 ReceiveLayout::rowStartPosition(qint64 row) const {
    if (!showsText())
        return 0;
    if (m_format == Format::Hex)
        return std::min(3 * row * bytesPerHexRow(), textLength());
    const auto [line, rowInLine] = m_index.lineOfRow(row);
    return m_index.lineStartPosition(line) + rowInLine * m_index.wrapWidth();
}

qint64 ReceiveLayout::rowLength(qint64 row) const {
    if (!showsText())
        return 0;
    if (m_format == Format::Hex)
        return std::min(3 * bytesPerHexRow(), textLength() - rowStartPosition(row));
    const auto [line, rowInLine] = m_index.lineOfRow(row);
    const qint64 width = m_index.wrapWidth();
    return std::clamp<qint64>(m_index.lineLength(line) - rowInLine * width, 0, width);
}

qint64 ReceiveLayout::positionOfRowColumn(qint64 row, qint64 column) const {
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    return rowStartPosition(row) + std::clamp<qint64>(column, 0, rowLength(row));
}

qint64 ReceiveLayout::rowOfPosition(qint64 position) const {
    if (!showsText())
        return 0;
    position = std::clamp<qint64>(position, 0, textLength());
    if (m_format == Format::Hex)
        return std::min(position / (3 * bytesPerHexRow()), rowCount() - 1);
    const qint64 line = m_index.lineOfPosition(position);
    const qint64 column = position - m_index.lineStartPosition(line);
    const qint64 rows = m_index.rowsOf(m_index.lineLength(line));
    return m_index.lineFirstRow(line) + std::min(column / m_index.wrapWidth(), rows - 1);
}

std::vector<ReceiveLayout::Row> ReceiveLayout::layoutRows(qint64 firstRow, qint64 count) const {
    std::vector<Row> rows;
    const qint64 total = rowCount();
    firstRow = std::clamp<qint64>(firstRow, 0, total - 1);
    count = std::min(count, total - firstRow);
    if (!showsText() || count <= 0) {
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

QString ReceiveLayout::gutterText(qint64 row) const {
    if (!m_timestamps || !showsText())
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
    // The rows of one paint arrived within a second or two, and the local time of a second
    // costs microseconds: it is worked out once per second, not for every row of every paint.
    const qint64 second = ms / 1000;
    if (second != m_gutterSecond) {
        m_gutterSecond = second;
        m_gutterSecondText =
            QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss."));
    }
    return m_gutterSecondText + QString::number(ms % 1000).rightJustified(3, QLatin1Char('0'));
}

QString ReceiveLayout::dumpOffsetText(qint64 row) const {
    return QString::number(row * DumpBytesPerRow, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString ReceiveLayout::dumpCharsText(qint64 row) const {
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

QString ReceiveLayout::shownRowText(qint64 row) const {
    QString out;
    if (m_timestamps)
        out = gutterText(row).leftJustified(TimestampCells, QLatin1Char(' '));
    const QString text = rowText(row);
    if (!dumpActive() || !showsText() || text.isEmpty())
        return out + text;
    return out + dumpOffsetText(row) + QStringLiteral("  ") +
           text.leftJustified(DumpCharsColumn, QLatin1Char(' ')) + dumpCharsText(row);
}

// --- caret targets -----------------------------------------------------------------------------

qint64 ReceiveLayout::lineStartOf(qint64 position) const {
    if (m_format == Format::Hex)
        return rowStartPosition(rowOfPosition(position));
    return m_index.lineStartPosition(m_index.lineOfPosition(position));
}

qint64 ReceiveLayout::lineEndOf(qint64 position) const {
    if (m_format == Format::Hex) {
        // A hex row is a line; its end is after the last pair of digits, before the space.
        const qint64 row = rowOfPosition(position);
        return rowStartPosition(row) + std::max<qint64>(0, rowLength(row) - 1);
    }
    const qint64 line = m_index.lineOfPosition(position);
    return m_index.lineStartPosition(line) + m_index.lineLength(line);
}

qint64 ReceiveLayout::wordBoundary(qint64 position, bool forward) const {
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

std::pair<qint64, qint64> ReceiveLayout::wordAround(qint64 position) const {
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
    return {from + start, from + end};
}
