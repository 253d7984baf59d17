#include "connection/HexTextParser.h"

namespace {

bool isTokenWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

QByteArray HexTextParser::TextToLatin1(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes.append('?');
            ++i;
        } else if (c.unicode() <= 0xFF) {
            bytes.append(static_cast<char>(c.unicode()));
        } else {
            bytes.append('?');
        }
    }
    return bytes;
}

QByteArray HexTextParser::ParseHexText(QByteArray sendText) {
    // Only ASCII letters change case: every other character is worth 15 either way, and a
    // locale-aware upper case could change the text's length.
    for (char& c : sendText) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }

    // One left-to-right pass: "00XX" leaves "0X", which is not removed again.
    QByteArray text;
    text.reserve(sendText.size());
    for (qsizetype i = 0; i < sendText.size(); ++i) {
        if (sendText.at(i) == '0' && i + 1 < sendText.size() && sendText.at(i + 1) == 'X') {
            ++i;
            continue;
        }
        const char c = sendText.at(i);
        text.append(c == ',' || c == ';' ? ' ' : c);
    }

    // Only spaces separate; tabs and line breaks stay inside their token.
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != ' ')
            continue;
        if (i > start)
            bytes.append(static_cast<char>(HexTokenToByte(text.mid(start, i - start))));
        start = i + 1;
    }
    return bytes;
}

std::uint8_t HexTextParser::HexTokenToByte(QByteArray token) {
    qsizetype begin = 0;
    qsizetype end = token.size();
    while (begin < end && isTokenWhiteSpace(token.at(begin)))
        ++begin;
    while (end > begin && isTokenWhiteSpace(token.at(end - 1)))
        --end;
    token = token.mid(begin, end - begin);
    while (token.size() < 2)
        token.prepend('0');
    return static_cast<std::uint8_t>(16 * DigitValue(token.at(0)) + DigitValue(token.at(1)));
}

int HexTextParser::DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 15;
}
