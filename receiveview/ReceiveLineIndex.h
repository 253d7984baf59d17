#pragma once

#include <QtGlobal>

#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

class ReceivedText;

// Lines of AsciiText as the receive view shows them, kept up to date as bytes arrive so that
// finding a row or a position costs the same at 50 MB as at 1 KB. Carriage returns and zero
// bytes take no cell; LF ends a line; the display text is the lines' visible characters joined
// by LF. Positions are offsets in that display text; rows depend on the wrap width in cells.
class ReceiveLineIndex {
public:
    ReceiveLineIndex();

    // Starts afresh with AsciiText beginning at this offset of the stored bytes.
    void reset(qint64 startByte);
    // Indexes the stored bytes that arrived since the last call.
    void extend(const ReceivedText& text);
    void setWrapWidth(int columns);

    qint64 startByte() const { return m_startByte; }
    qint64 indexedEnd() const { return m_indexedEnd; }
    int wrapWidth() const { return m_width; }
    qint64 lineCount() const { return m_lineCount; }
    qint64 rowCount() const { return m_rowsBeforeOpen + rowsOf(m_openLength); }
    qint64 displayLength() const { return m_posBeforeOpen + m_openLength; }

    qint64 lineLength(qint64 line) const;
    qint64 lineStartPosition(qint64 line) const;
    qint64 lineFirstRow(qint64 line) const;
    qint64 lineStartByte(const ReceivedText& text, qint64 line) const;
    // The line holding a row (clamped to the rows there are) and the row's number in it.
    std::pair<qint64, qint64> lineOfRow(qint64 row) const;
    qint64 lineOfPosition(qint64 position) const;
    // Offset of the visible character at column of the line (its LF or the end past the last).
    qint64 byteOfColumn(const ReceivedText& text, qint64 line, qint64 column) const;
    // Display position of the stored byte at an offset (a hidden byte: of the next visible one).
    qint64 positionOfByte(const ReceivedText& text, qint64 byte) const;

    qint64 rowsOf(qint64 length) const {
        return length == 0 ? 1 : (length + m_width - 1) / m_width;
    }

    static bool isHidden(char c) { return c == '\r' || c == '\0'; }

private:
    // Lines are grouped; each group keeps where its first line starts, so that a lookup is a
    // binary search over groups and a short walk inside one.
    static constexpr qint64 GroupLines = 64;
    // Lines at least this long keep the offset of every this-many-th visible character, so a
    // column deep inside a line of megabytes is found without walking the whole line.
    static constexpr qint64 MarkEvery = 4096;
    static constexpr quint16 LongLength = 0xFFFF;

    struct Group {
        qint64 startByte;
        qint64 startPosition;
        qint64 startRow;
    };
    struct LongLine {
        qint64 length = 0;
        std::vector<qint64> marks; // marks[k] = offset of visible character (k + 1) * MarkEvery
    };

    void closeOpenLine(qint64 lfOffset);
    void storeOpenLength();
    qint64 nextLineStart(const ReceivedText& text, qint64 line, qint64 start) const;

    qint64 m_startByte = 0;
    qint64 m_indexedEnd = 0;
    int m_width = 80;
    std::deque<quint16> m_lengths; // per line; LongLength: see m_longLines
    std::unordered_map<qint64, LongLine> m_longLines;
    std::deque<Group> m_groups;
    qint64 m_lineCount = 0;
    qint64 m_openLength = 0;
    qint64 m_rowsBeforeOpen = 0;
    qint64 m_posBeforeOpen = 0;
};
