#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

// Everything received since the last Clear, stored once. AsciiText is the suffix after the last
// form feed; HexText ("%02X " per byte) is produced from the same bytes when it is needed, so
// hours of data cost one byte of memory per received byte.
class ReceivedText {
public:
    // Blocks of fixed size, so that growing never copies what is already stored.
    static constexpr qint64 BlockSize = qint64(1) << 20;
    static constexpr char FormFeed = '\x0C';

    // Everything stored between two offsets, frozen: later appends and a Clear do not change it.
    // Saving takes one when the command is chosen and writes it after the file dialog.
    class Snapshot {
    public:
        Snapshot() = default;
        qint64 size() const { return m_hex ? 3 * (m_end - m_begin) : m_end - m_begin; }
        // Calls sink with consecutive pieces of the text; stops and answers false when sink does.
        bool forEachPiece(const std::function<bool(const char*, qint64)>& sink) const;
        QByteArray toByteArray() const;

    private:
        friend class ReceivedText;
        std::vector<std::shared_ptr<const char[]>> m_blocks;
        qint64 m_begin = 0;
        qint64 m_end = 0;
        bool m_hex = false;
    };

    // Appends one batch. Answers true when the batch held a form feed, that is when AsciiText
    // started afresh after the last one.
    // arrivalMs: local time the bytes arrived, ms since the epoch; -1 when not known. Times are
    // kept beside the bytes, for display only: no text made from the bytes carries them.
    bool append(QByteArrayView bytes, qint64 arrivalMs = -1);
    void clear();

    qint64 byteCount() const { return m_size; }
    qint64 asciiStart() const { return m_asciiStart; }
    qint64 asciiSize() const { return m_size - m_asciiStart; }
    qint64 hexSize() const { return 3 * m_size; }

    // Byte at an offset counted from the last Clear (not from the last form feed).
    char at(qint64 offset) const {
        return m_blocks[std::size_t(offset / BlockSize)][std::size_t(offset % BlockSize)];
    }
    // The stored bytes from offset up to the end of its block or of the data, whichever is first.
    QByteArrayView contiguousAt(qint64 offset) const;
    // First offset in [from, to) holding c, or -1.
    qint64 indexOf(char c, qint64 from, qint64 to) const;

    // Arrival time of the byte at an offset, or -1 when none was given for it.
    qint64 arrivalTime(qint64 offset) const;

    QByteArray bytes(qint64 from, qint64 to) const;
    QByteArray asciiText() const { return bytes(m_asciiStart, m_size); }
    QByteArray hexText() const;
    Snapshot asciiSnapshot() const { return snapshot(m_asciiStart, m_size, false); }
    Snapshot hexSnapshot() const { return snapshot(0, m_size, true); }

    // The "%02X " form of some bytes: three characters per byte, no line breaks.
    static QByteArray hexChunk(QByteArrayView bytes);
    static void appendHex(char* out, const char* bytes, qint64 count);

private:
    Snapshot snapshot(qint64 begin, qint64 end, bool hex) const;

    struct Arrival {
        qint64 offset;
        qint64 ms;
    };

    std::vector<std::shared_ptr<char[]>> m_blocks;
    // One entry per millisecond in which bytes arrived, at most, so the times cost little even
    // at a report a millisecond.
    std::vector<Arrival> m_arrivals;
    qint64 m_size = 0;
    qint64 m_asciiStart = 0;
};
