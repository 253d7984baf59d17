#include "receiveview/ReceiveFinder.h"

#include "connection/ReceivedText.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {

// Bytes searched between two looks at the clock.
constexpr qint64 SliceBytes = qint64(4) << 20;

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> ReceiveFinder::NeedleFromText(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
        out.append(char(c.unicode()));
    }
    return out;
}

std::optional<QByteArray> ReceiveFinder::NeedleFromHex(const QString& text) {
    QByteArray out;
    const QStringList tokens =
        text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
    for (QString token : tokens) {
        if (token.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            token = token.mid(2);
        if (token.isEmpty() || token.size() % 2 != 0)
            return std::nullopt;
        for (qsizetype i = 0; i < token.size(); i += 2) {
            const int hi = hexDigit(token[i]);
            const int lo = hexDigit(token[i + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.append(char(hi * 16 + lo));
        }
    }
    if (out.isEmpty())
        return std::nullopt;
    return out;
}

void ReceiveFinder::begin(const QByteArray& needle, qint64 rangeBegin, qint64 rangeEnd, qint64 from,
                          Direction direction) {
    m_needle = needle;
    m_rangeBegin = rangeBegin;
    m_rangeEnd = std::max(rangeBegin, rangeEnd);
    m_direction = direction;
    m_start = std::clamp(from, m_rangeBegin, m_rangeEnd);
    m_next = m_start;
    m_limit = direction == Direction::Forward ? m_rangeEnd : m_rangeBegin;
    m_wrapped = false;
    m_found = -1;
    m_active = !needle.isEmpty() && m_rangeEnd - m_rangeBegin >= needle.size();
}

bool ReceiveFinder::step(const ReceivedText& text, int budgetMs) {
    if (!m_active)
        return true;
    if (m_rangeEnd > text.byteCount()) {
        // Cleared meanwhile: what was to be searched is gone.
        m_active = false;
        m_found = -1;
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 m = m_needle.size();
    do {
        if (m_direction == Direction::Forward) {
            if (m_next < m_limit) {
                const qint64 sliceEnd = std::min(m_limit, m_next + SliceBytes);
                // A match starting in the slice may reach past its end.
                const qint64 hit =
                    searchForward(text, m_next, std::min(m_rangeEnd, sliceEnd + m - 1));
                if (hit >= 0 && hit < sliceEnd) {
                    m_found = hit;
                    m_active = false;
                    return true;
                }
                m_next = sliceEnd;
                continue;
            }
        } else if (m_next > m_limit) {
            const qint64 sliceBegin = std::max(m_limit, m_next - SliceBytes);
            // Matches ending in (sliceBegin, m_next]; they may start before the slice.
            const qint64 hit =
                searchBackward(text, std::max(m_rangeBegin, sliceBegin - m + 1), m_next);
            if (hit >= 0 && hit + m > sliceBegin) {
                m_found = hit;
                m_active = false;
                return true;
            }
            m_next = sliceBegin;
            continue;
        }
        if (m_wrapped) {
            m_active = false;
            return true;
        }
        // Round once: the rest of the range, up to where the search began.
        m_wrapped = true;
        if (m_direction == Direction::Forward) {
            m_next = m_rangeBegin;
            m_limit = m_start;
        } else {
            m_next = m_rangeEnd;
            m_limit = m_start;
        }
    } while (clock.elapsed() < budgetMs);
    return false;
}

qint64 ReceiveFinder::findAll(const ReceivedText& text) {
    while (!step(text, 1000)) {
    }
    return m_found;
}

// First match lying wholly in [from, to), or -1.
qint64 ReceiveFinder::searchForward(const ReceivedText& text, qint64 from, qint64 to) const {
    const qint64 m = m_needle.size();
    to = std::min(to, text.byteCount());
    while (to - from >= m) {
        const QByteArrayView piece = text.contiguousAt(from);
        const qint64 n = std::min<qint64>(piece.size(), to - from);
        if (n >= m) {
            if (const void* hit =
                    memmem(piece.data(), std::size_t(n), m_needle.constData(), std::size_t(m)))
                return from + (static_cast<const char*>(hit) - piece.data());
        }
        if (from + n >= to)
            return -1;
        // Matches across the end of this block: the last m - 1 bytes and the first of the next.
        const qint64 seam = from + std::max<qint64>(0, n - m + 1);
        const QByteArray around = text.bytes(seam, std::min(to, from + n + m - 1));
        if (const void* hit = memmem(around.constData(), std::size_t(around.size()),
                                     m_needle.constData(), std::size_t(m)))
            return seam + (static_cast<const char*>(hit) - around.constData());
        from += n;
    }
    return -1;
}

// Last match lying wholly in [from, to), or -1.
qint64 ReceiveFinder::searchBackward(const ReceivedText& text, qint64 from, qint64 to) const {
    const qint64 m = m_needle.size();
    from = std::max<qint64>(0, from);
    to = std::min(to, text.byteCount());
    const char first = m_needle[0];
    // Walk back block by block; a candidate's first byte is found with memrchr.
    qint64 end = to; // candidates start before end - m + 1
    while (end - from >= m) {
        qint64 lastStart = end - m; // inclusive
        const qint64 blockStart = std::max(from, lastStart - lastStart % ReceivedText::BlockSize);
        const QByteArrayView piece = text.contiguousAt(blockStart);
        const char* base = piece.data();
        qint64 span = lastStart - blockStart + 1;
        while (span > 0) {
            const void* hit = memrchr(base, first, std::size_t(span));
            if (!hit)
                break;
            const qint64 at = blockStart + (static_cast<const char*>(hit) - base);
            bool match = true;
            for (qint64 k = 1; k < m && match; ++k)
                match = text.at(at + k) == m_needle[k];
            if (match)
                return at;
            span = at - blockStart;
        }
        if (blockStart <= from)
            return -1;
        end = blockStart + m - 1;
    }
    return -1;
}
