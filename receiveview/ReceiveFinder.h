#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <optional>

class ReceivedText;

// Finds bytes in the stored received data, a slice at a time, so that searching a gigabyte
// never holds the window's thread for longer than one slice. Matches may straddle the store's
// blocks.
class ReceiveFinder {
public:
    enum class Direction { Forward, Backward };

    // The bytes a find bar's text stands for: Latin-1 characters, or hex byte pairs separated
    // by blanks, commas or nothing ("41 42", "0x41,0x42", "4142"). None when the text is empty,
    // holds a character beyond Latin-1, or is not whole hex bytes.
    static std::optional<QByteArray> NeedleFromText(const QString& text);
    static std::optional<QByteArray> NeedleFromHex(const QString& text);

    // A search for needle in [rangeBegin, rangeEnd), starting at from (forward: first match at
    // or after it; backward: last match ending at or before it) and wrapping round once.
    void begin(const QByteArray& needle, qint64 rangeBegin, qint64 rangeEnd, qint64 from,
               Direction direction);
    bool isActive() const { return m_active; }
    // Works for about budgetMs; true when the search has ended (found() tells how).
    bool step(const ReceivedText& text, int budgetMs);
    // Offset of the match's first byte, or -1.
    qint64 found() const { return m_found; }
    bool wrapped() const { return m_wrapped; }

    // One whole search in one go (tests, benchmark).
    qint64 findAll(const ReceivedText& text);

private:
    qint64 searchForward(const ReceivedText& text, qint64 from, qint64 to) const;
    qint64 searchBackward(const ReceivedText& text, qint64 from, qint64 to) const;

    QByteArray m_needle;
    qint64 m_rangeBegin = 0;
    qint64 m_rangeEnd = 0;
    Direction m_direction = Direction::Forward;
    // What is still to be searched: forward [m_next, m_limit), backward [m_limit, m_next).
    qint64 m_next = 0;
    qint64 m_limit = 0;
    qint64 m_start = 0;
    bool m_wrapped = false;
    bool m_active = false;
    qint64 m_found = -1;
};
