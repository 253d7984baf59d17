#include "connection/ReceivedText.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

// "%02X " of every byte value, so formatting is one copy per byte.
constexpr std::array<std::array<char, 3>, 256> makeHexTable() {
    std::array<std::array<char, 3>, 256> table{};
    constexpr char digits[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b)
        table[std::size_t(b)] = {digits[b >> 4], digits[b & 0xF], ' '};
    return table;
}
constexpr auto HexTable = makeHexTable();

// Up to this many blocks are released on the spot by Clear.
constexpr std::size_t ReleaseInlineBlocks = 4;

// Hex text is produced in pieces of this many bytes of input.
constexpr qint64 HexPieceBytes = 64 * 1024;

} // namespace

void ReceivedText::appendHex(char* out, const char* bytes, qint64 count) {
    for (qint64 i = 0; i < count; ++i) {
        const auto& group = HexTable[static_cast<unsigned char>(bytes[i])];
        std::memcpy(out + 3 * i, group.data(), 3);
    }
}

QByteArray ReceivedText::hexChunk(QByteArrayView bytes) {
    QByteArray hex(3 * bytes.size(), Qt::Uninitialized);
    appendHex(hex.data(), bytes.data(), bytes.size());
    return hex;
}

bool ReceivedText::append(QByteArrayView bytes, qint64 arrivalMs) {
    const qint64 start = m_size;
    if (!bytes.isEmpty()) {
        if (arrivalMs < 0)
            m_arrivals.push_back({start, -1});
        else if (m_arrivals.empty() || m_arrivals.back().ms != arrivalMs)
            m_arrivals.push_back({start, arrivalMs});
        if (m_arrivals.size() >= 2 && m_arrivals.back().ms < 0 &&
            m_arrivals[m_arrivals.size() - 2].ms < 0)
            m_arrivals.pop_back();
    }
    const char* data = bytes.data();
    qint64 left = bytes.size();
    while (left > 0) {
        const qint64 inBlock = m_size % BlockSize;
        if (inBlock == 0 && std::size_t(m_size / BlockSize) == m_blocks.size())
            m_blocks.emplace_back(new char[BlockSize]);
        const qint64 n = std::min(left, BlockSize - inBlock);
        std::memcpy(m_blocks.back().get() + inBlock, data, std::size_t(n));
        data += n;
        left -= n;
        m_size += n;
    }
    // The whole batch is searched: a zero byte inside it does not hide a later form feed.
    for (qint64 i = bytes.size() - 1; i >= 0; --i) {
        if (bytes[i] == FormFeed) {
            m_asciiStart = start + i + 1;
            return true;
        }
    }
    return false;
}

void ReceivedText::clear() {
    // Giving tens of megabytes back to the system takes about 10 ms: a helper thread does it, so
    // that Clear never holds the window. Snapshots share the blocks safely (counted references).
    if (m_blocks.size() > ReleaseInlineBlocks) {
        try {
            std::thread([old = std::move(m_blocks)]() mutable { old.clear(); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: release here, only slower.
        }
    }
    m_blocks.clear();
    m_arrivals.clear();
    m_arrivals.shrink_to_fit();
    m_size = 0;
    m_asciiStart = 0;
}

QByteArrayView ReceivedText::contiguousAt(qint64 offset) const {
    if (offset < 0 || offset >= m_size)
        return {};
    const qint64 inBlock = offset % BlockSize;
    const qint64 n = std::min(BlockSize - inBlock, m_size - offset);
    return QByteArrayView(m_blocks[std::size_t(offset / BlockSize)].get() + inBlock, n);
}

qint64 ReceivedText::indexOf(char c, qint64 from, qint64 to) const {
    to = std::min(to, m_size);
    while (from < to) {
        QByteArrayView piece = contiguousAt(from);
        const qint64 n = std::min<qint64>(piece.size(), to - from);
        if (const void* hit = std::memchr(piece.data(), c, std::size_t(n)))
            return from + (static_cast<const char*>(hit) - piece.data());
        from += n;
    }
    return -1;
}

qint64 ReceivedText::arrivalTime(qint64 offset) const {
    if (offset < 0 || offset >= m_size)
        return -1;
    auto after = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), offset,
                                  [](qint64 o, const Arrival& a) { return o < a.offset; });
    return after == m_arrivals.begin() ? -1 : std::prev(after)->ms;
}

QByteArray ReceivedText::bytes(qint64 from, qint64 to) const {
    from = std::clamp<qint64>(from, 0, m_size);
    to = std::clamp<qint64>(to, from, m_size);
    QByteArray out(to - from, Qt::Uninitialized);
    char* dst = out.data();
    while (from < to) {
        QByteArrayView piece = contiguousAt(from);
        const qint64 n = std::min<qint64>(piece.size(), to - from);
        std::memcpy(dst, piece.data(), std::size_t(n));
        dst += n;
        from += n;
    }
    return out;
}

QByteArray ReceivedText::hexText() const {
    return hexSnapshot().toByteArray();
}

ReceivedText::Snapshot ReceivedText::snapshot(qint64 begin, qint64 end, bool hex) const {
    Snapshot s;
    s.m_blocks.assign(m_blocks.begin(), m_blocks.end());
    s.m_begin = begin;
    s.m_end = end;
    s.m_hex = hex;
    return s;
}

bool ReceivedText::Snapshot::forEachPiece(
    const std::function<bool(const char*, qint64)>& sink) const {
    QByteArray hexPiece;
    for (qint64 pos = m_begin; pos < m_end;) {
        const qint64 inBlock = pos % BlockSize;
        qint64 n = std::min(BlockSize - inBlock, m_end - pos);
        const char* data = m_blocks[std::size_t(pos / BlockSize)].get() + inBlock;
        if (m_hex) {
            n = std::min(n, HexPieceBytes);
            hexPiece.resize(3 * n);
            appendHex(hexPiece.data(), data, n);
            if (!sink(hexPiece.constData(), 3 * n))
                return false;
        } else if (!sink(data, n)) {
            return false;
        }
        pos += n;
    }
    return true;
}

QByteArray ReceivedText::Snapshot::toByteArray() const {
    QByteArray out;
    out.reserve(size());
    forEachPiece([&out](const char* data, qint64 n) {
        out.append(data, n);
        return true;
    });
    return out;
}
