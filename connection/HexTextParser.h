#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Turns the transfer box's text into the bytes that go out: as Latin-1 characters, or as
// hexadecimal byte tokens.
class HexTextParser {
public:
    // One byte per character (Latin-1); a character beyond Latin-1, surrogate pairs included,
    // becomes a single '?'.
    static QByteArray TextToLatin1(const QString& text);

    // Upper case, "0X" removed in one pass, commas and semicolons made spaces, then one byte per
    // space-separated token. The result's size is the byte count: it is not limited to 16 bits,
    // so a long text never wraps the count.
    static QByteArray ParseHexText(QByteArray sendText);

    // Two hex digits after trimming white space from both ends; a short token is padded with
    // leading zeros, a long one cut after two characters, and any non-hex character is worth 15.
    static std::uint8_t HexTokenToByte(QByteArray token);

private:
    static int DigitValue(char c);
};
