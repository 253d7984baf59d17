#include "receiveview/ReceiveFinder.h"
#include "connection/ReceivedText.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

// The sliced search over the stored bytes against a plain search of the same bytes: both
// directions, matches across the store's blocks, wrapping, ranges, and the needle texts.

namespace {

using Direction = ReceiveFinder::Direction;

// What the finder must answer, worked out the plain way.
qint64 plainFind(const std::string& hay, const std::string& needle, qint64 begin, qint64 end,
                 qint64 from, Direction direction) {
    const auto m = qint64(needle.size());
    const auto at = [&](qint64 p) {
        return p >= begin && p + m <= end &&
               hay.compare(std::size_t(p), needle.size(), needle) == 0;
    };
    if (direction == Direction::Forward) {
        for (qint64 p = from; p + m <= end; ++p)
            if (at(p))
                return p;
        for (qint64 p = begin; p < from; ++p)
            if (at(p))
                return p;
    } else {
        for (qint64 p = from - m; p >= begin; --p)
            if (at(p))
                return p;
        for (qint64 p = end - m; p > from - m; --p)
            if (at(p))
                return p;
    }
    return -1;
}

} // namespace

TEST(ReceiveFinderTest, AgreesWithAPlainSearchAcrossBlocks) {
    // Three blocks and a bit, of few letters, so matches are many and cross every seam.
    const qint64 size = 3 * ReceivedText::BlockSize + 777;
    std::mt19937 random(11);
    std::string hay(std::size_t(size), 'a');
    for (char& c : hay)
        c = "abc"[random() % 3];
    const std::string needles[] = {"abcabcab", "cccccc", "zz", "a"};
    // Plant a rare needle on each seam.
    for (qint64 k = 1; k <= 3; ++k)
        hay.replace(std::size_t(k * ReceivedText::BlockSize - 3), 6, "zz" + std::string(4, 'b'));
    ReceivedText text;
    for (std::size_t at = 0; at < hay.size(); at += 100000)
        text.append(QByteArrayView(hay.data() + at,
                                   qsizetype(std::min<std::size_t>(100000, hay.size() - at))));

    const qint64 seam = ReceivedText::BlockSize;
    const qint64 froms[] = {0, seam - 2, seam, 2 * seam + 5, size};
    for (const std::string& needle : needles) {
        for (qint64 from : froms) {
            for (Direction d : {Direction::Forward, Direction::Backward}) {
                for (const auto& [begin, end] :
                     {std::pair<qint64, qint64>{0, size},
                      std::pair<qint64, qint64>{seam - 1, 2 * seam + 9}}) {
                    SCOPED_TRACE(testing::Message() << needle << " from " << from << " "
                                                    << (d == Direction::Forward ? "fwd" : "back")
                                                    << " range " << begin << "-" << end);
                    ReceiveFinder finder;
                    finder.begin(QByteArray::fromStdString(needle), begin, end, from, d);
                    EXPECT_EQ(finder.findAll(text),
                              plainFind(hay, needle, begin, end, std::clamp(from, begin, end), d));
                }
            }
        }
    }
}

TEST(ReceiveFinderTest, ZzOnEverySeamInTurn) {
    std::string hay(std::size_t(3 * ReceivedText::BlockSize), 'q');
    for (qint64 k = 1; k <= 2; ++k)
        hay[std::size_t(k * ReceivedText::BlockSize -
                        1)] = 'z',
                        hay[std::size_t(k * ReceivedText::BlockSize)] = 'z';
    ReceivedText text;
    text.append(QByteArrayView(hay.data(), qsizetype(hay.size())));
    ReceiveFinder finder;
    const qint64 first = ReceivedText::BlockSize - 1;
    const qint64 second = 2 * ReceivedText::BlockSize - 1;
    finder.begin("zz", 0, text.byteCount(), 0, Direction::Forward);
    EXPECT_EQ(finder.findAll(text), first);
    EXPECT_FALSE(finder.wrapped());
    finder.begin("zz", 0, text.byteCount(), first + 1, Direction::Forward);
    EXPECT_EQ(finder.findAll(text), second);
    finder.begin("zz", 0, text.byteCount(), second + 1, Direction::Forward);
    EXPECT_EQ(finder.findAll(text), first);
    EXPECT_TRUE(finder.wrapped());
    finder.begin("zz", 0, text.byteCount(), second + 1, Direction::Backward);
    EXPECT_EQ(finder.findAll(text), first) << "a match ending past the start is not taken";
    finder.begin("zz", 0, text.byteCount(), text.byteCount(), Direction::Backward);
    EXPECT_EQ(finder.findAll(text), second);
}

TEST(ReceiveFinderTest, StepsEndWhenTheDataIsCleared) {
    ReceivedText text;
    text.append(QByteArray(1000, 'x'));
    ReceiveFinder finder;
    finder.begin("y", 0, text.byteCount(), 0, Direction::Forward);
    text.clear();
    EXPECT_TRUE(finder.step(text, 5));
    EXPECT_EQ(finder.found(), -1);
}

TEST(ReceiveFinderTest, NeedleTexts) {
    struct Case {
        const char* name;
        QString text;
        bool hex;
        std::optional<QByteArray> needle;
    };
    const Case cases[] = {
        {"text as Latin-1", QString::fromUtf8("ab é"), false, QByteArray("ab \xE9")},
        {"text beyond Latin-1", QString::fromUtf8("a€"), false, std::nullopt},
        {"empty text", "", false, std::nullopt},
        {"hex pairs", "41 42 0d", true, QByteArray("AB\r")},
        {"hex run and 0x, commas", "0x41,4243;0A", true, QByteArray("ABC\n")},
        {"odd digits", "414", true, std::nullopt},
        {"not hex", "4G", true, std::nullopt},
        {"blanks only", "  ", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.hex ? ReceiveFinder::NeedleFromHex(c.text)
                        : ReceiveFinder::NeedleFromText(c.text),
                  c.needle);
    }
}
