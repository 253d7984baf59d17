#include "connection/ReceivedText.h"

#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

TEST(ReceivedTextTest, AsciiAndHexTextsAfterReads) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::string ascii;
        std::string hex;
        bool lastReadHadFormFeed;
    };
    const Case cases[] = {
        {"A B CR LF", {"AB\r\n"}, "AB\r\n", "41 42 0D 0A ", false},
        {"form feed inside a read", {"abc\fde"}, "de", "61 62 63 0C 64 65 ", true},
        {"form feed after a zero byte in the same read",
         {std::string("a\0b\fc", 5)},
         "c",
         "61 00 62 0C 63 ",
         true},
        {"two form feeds keep what follows the last", {"x\fy\fz"}, "z", "78 0C 79 0C 7A ", true},
        {"form feed ending the read", {"ab\f"}, "", "61 62 0C ", true},
        {"later reads add to the text after the form feed",
         {"old\fne", "w"},
         "new",
         "6F 6C 64 0C 6E 65 77 ",
         false},
        {"zero bytes are kept",
         {std::string("\0A\0", 3)},
         std::string("\0A\0", 3),
         "00 41 00 ",
         false},
        {"empty read changes nothing", {"hi", ""}, "hi", "68 69 ", false},
        {"bytes above 0x7F", {"\xE9\xFF"}, "\xE9\xFF", "E9 FF ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReceivedText text;
        bool formFeed = false;
        for (const std::string& read : c.reads)
            formFeed = text.append(bytes(read));
        EXPECT_EQ(text.asciiText(), bytes(c.ascii));
        EXPECT_EQ(text.hexText(), bytes(c.hex));
        EXPECT_EQ(text.hexSize(), qint64(c.hex.size()));
        EXPECT_EQ(formFeed, c.lastReadHadFormFeed);
    }
}

TEST(ReceivedTextTest, HexFormOfEveryByteValueMatchesPrintf) {
    QByteArray all;
    std::string expected;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
        char group[4];
        std::snprintf(group, sizeof group, "%02X ", b);
        expected += group;
    }
    EXPECT_EQ(ReceivedText::hexChunk(all), bytes(expected));
}

TEST(ReceivedTextTest, ClearEmptiesBothTexts) {
    ReceivedText text;
    text.append("before\fafter");
    text.clear();
    EXPECT_EQ(text.byteCount(), 0);
    EXPECT_TRUE(text.asciiText().isEmpty());
    EXPECT_TRUE(text.hexText().isEmpty());
    text.append("x");
    EXPECT_EQ(text.asciiText(), "x");
    EXPECT_EQ(text.hexText(), "78 ");
}

TEST(ReceivedTextTest, ReadsAcrossBlockBoundariesStayInOrder) {
    ReceivedText text;
    std::string all;
    // Reads of odd sizes so that several cross the 1 MB block boundaries.
    for (int i = 0; all.size() < std::size_t(2 * ReceivedText::BlockSize + 5000); ++i) {
        std::string read(std::size_t(4093 + i % 7), '\0');
        for (std::size_t k = 0; k < read.size(); ++k)
            read[k] = char('a' + (all.size() + k) % 26);
        if (i == 600)
            read[17] = '\f';
        all += read;
        text.append(bytes(read));
    }
    ASSERT_EQ(text.byteCount(), qint64(all.size()));
    EXPECT_EQ(text.bytes(0, text.byteCount()), bytes(all));
    const std::size_t formFeed = all.rfind('\f');
    EXPECT_EQ(text.asciiText(), bytes(all.substr(formFeed + 1)));
    const qint64 edge = ReceivedText::BlockSize;
    EXPECT_EQ(text.bytes(edge - 3, edge + 3), bytes(all.substr(std::size_t(edge - 3), 6)));
    EXPECT_EQ(text.at(edge), all[std::size_t(edge)]);
    EXPECT_EQ(text.indexOf('\f', 0, text.byteCount()), qint64(formFeed));
    EXPECT_EQ(text.indexOf('\f', qint64(formFeed) + 1, text.byteCount()), -1);
    const QByteArray hex = text.hexText();
    EXPECT_EQ(hex.size(), 3 * text.byteCount());
    EXPECT_EQ(hex.mid(3 * edge, 6),
              ReceivedText::hexChunk(bytes(all.substr(std::size_t(edge), 2))));
}

TEST(ReceivedTextTest, SnapshotKeepsTheTextOfItsMoment) {
    ReceivedText text;
    text.append("one\ftwo");
    const ReceivedText::Snapshot ascii = text.asciiSnapshot();
    const ReceivedText::Snapshot hex = text.hexSnapshot();
    text.append("three");
    EXPECT_EQ(ascii.toByteArray(), "two");
    EXPECT_EQ(hex.toByteArray(), "6F 6E 65 0C 74 77 6F ");
    text.clear();
    text.append("fresh");
    EXPECT_EQ(ascii.toByteArray(), "two");
    EXPECT_EQ(ascii.size(), 3);
    EXPECT_EQ(hex.size(), 21);
}

TEST(ReceivedTextTest, SnapshotPiecesStopWhenTheSinkFails) {
    ReceivedText text;
    text.append(QByteArray(3 * 64 * 1024, 'q'));
    int pieces = 0;
    EXPECT_FALSE(text.hexSnapshot().forEachPiece([&pieces](const char*, qint64) {
        ++pieces;
        return false;
    }));
    EXPECT_EQ(pieces, 1);
    EXPECT_TRUE(ReceivedText().asciiSnapshot().forEachPiece([](const char*, qint64) {
        ADD_FAILURE() << "an empty text has no pieces";
        return true;
    }));
}
