#pragma once

#include "receiveview/ReceiveLineIndex.h"

#include <QString>

#include <functional>
#include <vector>

class ReceivedText;

// What the receive view shows, without the widget: the text of the current form (ASCII or
// hex), its rows at the view's width, the time column and the dump layout, and the mapping
// between stored bytes, text positions and rows. The width in cells is asked of the view each
// time, since its viewport can change width before the resize reaches the view.
class ReceiveLayout {
public:
    enum class Format { Ascii, Hex };

    struct Row {
        qint64 startPosition = 0;
        QString text; // as painted: control characters blanked
    };

    // "HH:mm:ss.zzz" and a blank cell.
    static constexpr int TimestampCells = 13;
    // Dump rows: "00000000  " before the hex groups, 16 groups, one blank, 16 characters.
    static constexpr int DumpOffsetCells = 10;
    static constexpr qint64 DumpBytesPerRow = 16;
    static constexpr int DumpCharsColumn = 3 * DumpBytesPerRow + 1;

    explicit ReceiveLayout(std::function<int()> cellsAcross);

    void setSource(const ReceivedText* text) { m_text = text; }
    const ReceivedText* source() const { return m_text; }
    Format format() const { return m_format; }
    void setFormat(Format format) { m_format = format; }
    bool isBlank() const { return m_blank; }
    void setBlank(bool blank) { m_blank = blank; }
    bool timestamps() const { return m_timestamps; }
    void setTimestamps(bool on) { m_timestamps = on; }
    bool hexDump() const { return m_hexDump; }
    void setHexDump(bool on) { m_hexDump = on; }
    bool dumpActive() const { return m_hexDump && m_format == Format::Hex; }
    // Rows of text are shown: there is a source and the view is not blanked.
    bool showsText() const { return !m_blank && m_text; }

    // Indexes the whole source afresh.
    void reset();
    // Indexes what was appended; true when AsciiText started afresh in the ASCII form.
    bool extend();
    // Wraps the lines again at the current width.
    void rewrap();

    qint64 positionOfByte(qint64 byte) const;
    qint64 byteOfPosition(qint64 position) const;
    qint64 textLength() const;
    QString textRange(qint64 from, qint64 to) const;

    int columns() const;
    int gutterCells() const { return m_timestamps ? TimestampCells : 0; }
    int textCellOffset() const { return gutterCells() + (dumpActive() ? DumpOffsetCells : 0); }
    qint64 rowCount() const;
    qint64 rowStartPosition(qint64 row) const;
    qint64 rowLength(qint64 row) const;
    qint64 positionOfRowColumn(qint64 row, qint64 column) const;
    qint64 rowOfPosition(qint64 position) const;
    std::vector<Row> layoutRows(qint64 firstRow, qint64 count) const;
    QString rowText(qint64 row) const { return layoutRows(row, 1).front().text; }
    QString gutterText(qint64 row) const;
    QString dumpOffsetText(qint64 row) const;
    QString dumpCharsText(qint64 row) const;
    QString shownRowText(qint64 row) const;

    // Where Home and End put the caret: a hex row is a line, ending before its last space.
    qint64 lineStartOf(qint64 position) const;
    qint64 lineEndOf(qint64 position) const;
    // The start of the next or of this word, as text views move by words.
    qint64 wordBoundary(qint64 position, bool forward) const;
    // The word around a position, as a double-click selects it.
    std::pair<qint64, qint64> wordAround(qint64 position) const;

private:
    qint64 bytesPerHexRow() const;

    std::function<int()> m_cellsAcross;
    const ReceivedText* m_text = nullptr;
    ReceiveLineIndex m_index;
    Format m_format = Format::Ascii;
    bool m_blank = false;
    bool m_timestamps = false;
    bool m_hexDump = false;
    // "HH:mm:ss." of the second whose time column was shown last.
    mutable qint64 m_gutterSecond = -1;
    mutable QString m_gutterSecondText;
};
