#include "connection/HexTextParser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

struct HexCase {
    const char* Name;
    QByteArray Text;
    std::vector<std::uint8_t> Expected;
};

class ParseHexTextTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(ParseHexTextTest, GivesTheBytesOfTheRules) {
    EXPECT_EQ(bytesOf(HexTextParser::ParseHexText(GetParam().Text)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseHexTextTest,
    ::testing::Values(
        HexCase{"SingleSpaces", "41 42 43", {0x41, 0x42, 0x43}},
        HexCase{"CommasAndSemicolons", "0x41,0x42;0x43", {0x41, 0x42, 0x43}},
        HexCase{"UpperPrefix", "0X41 0X42 0X43", {0x41, 0x42, 0x43}},
        HexCase{"TwoCommasGiveNoEmptyToken", "41,,42", {0x41, 0x42}},
        HexCase{"LowerCase", "ff 0a", {0xFF, 0x0A}}, HexCase{"LoneDigit", "A", {0x0A}},
        HexCase{"ThirdDigitDropped", "123", {0x12}}, HexCase{"NonHexWorthF", "GG", {0xFF}},
        HexCase{"DigitThenNonHex", "4Z", {0x4F}}, HexCase{"LoneNonHex", "Z", {0x0F}},
        HexCase{"RunsOfSpaces", "   41    42   ", {0x41, 0x42}},
        HexCase{"LineBreakInsideToken", "41\r\n42", {0x41}},
        HexCase{"LineBreakBetweenTokens", "41 \r\n 42", {0x41, 0x00, 0x42}},
        HexCase{"PrefixInsideToken", "10X5", {0x15}}, HexCase{"PrefixRemovedOnce", "00XX", {0x0F}},
        HexCase{"TabDoesNotSeparate", "4\t1", {0x4F}},
        HexCase{"TabAtEndsTrimmed", "\t41\t 42", {0x41, 0x42}},
        HexCase{"TrailingLineBreakToken", "41 \r\n", {0x41, 0x00}}, HexCase{"Empty", "", {}},
        HexCase{"SpacesOnly", "     ", {}}, HexCase{"SeparatorsOnly", ",;, ;", {}},
        HexCase{"Latin1Letter", "\xE9\xE9 41", {0xFF, 0x41}}),
    [](const ::testing::TestParamInfo<HexCase>& info) { return std::string(info.param.Name); });

struct TokenCase {
    QByteArray Token;
    std::uint8_t Expected;
};

TEST(HexTokenToByteTest, PadsCutsAndTrims) {
    const std::vector<TokenCase> cases = {
        {"", 0x00},    {" ", 0x00},    {"\r\n", 0x00},    {"7", 0x07},  {"7F", 0x7F},
        {"7FA", 0x7F}, {"  9 ", 0x09}, {"\v\fC\t", 0x0C}, {"G", 0x0F},  {"a", 0x0F},
        {"a1", 0xF1},  {"1\r2", 0x1F}, {"FF", 0xFF},      {"00", 0x00}, {"\xFF\xFF", 0xFF},
    };
    for (const TokenCase& c : cases)
        EXPECT_EQ(HexTextParser::HexTokenToByte(c.Token), c.Expected) << c.Token.toStdString();
}

TEST(ParseHexTextCountTest, IsNotLimitedToSixteenBits) {
    // 70,000 tokens: a 16-bit count would wrap to 4,464 and send a wrong prefix.
    QByteArray text;
    for (int i = 0; i < 70000; ++i)
        text += (i % 2 ? "AB " : "01 ");
    const QByteArray bytes = HexTextParser::ParseHexText(text);
    ASSERT_EQ(bytes.size(), 70000);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes.at(0)), 0x01);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes.at(69999)), 0xAB);
}

TEST(TextToLatin1Test, MapsCharactersOneToOne) {
    struct Case {
        QString Text;
        QByteArray Expected;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("AT\r\n"), QByteArray("AT\r\n")},
        {QString(QChar(0xE9)) + QChar(0xFF) + QChar(0x00), QByteArray("\xE9\xFF\x00", 3)},
        {QString(QChar(0x20AC)), QByteArray("?")},
        {QString::fromUtf8("a\xF0\x9F\x98\x80"
                           "b"),
         QByteArray("a?b")},
        {QString(), QByteArray()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HexTextParser::TextToLatin1(c.Text), c.Expected) << c.Text.toStdString();
}

} // namespace
