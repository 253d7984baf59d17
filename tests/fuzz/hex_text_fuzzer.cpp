#include "connection/HexTextParser.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The transfer box's hex rules written plainly: a character is worth its hex digit or 15; "0X"
// goes in one left-to-right pass over the upper-cased text; commas and semicolons are spaces;
// only spaces separate tokens; a token loses outer white space, is padded to two characters
// with zeros and keeps its first two.
std::vector<std::uint8_t> modelBytes(const std::string& typed) {
    std::string upper;
    for (char c : typed)
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;

    std::string text;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (upper.compare(i, 2, "0X") == 0) {
            ++i;
            continue;
        }
        text += (upper[i] == ',' || upper[i] == ';') ? ' ' : upper[i];
    }

    const std::string whiteSpace = " \t\r\n\v\f";
    const auto worth = [](char c) -> unsigned {
        const std::string digits = "0123456789ABCDEF";
        const auto at = digits.find(c);
        return at == std::string::npos ? 15u : static_cast<unsigned>(at);
    };
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t space = text.find(' ', pos);
        if (space == std::string::npos)
            space = text.size();
        std::string token = text.substr(pos, space - pos);
        pos = space + 1;
        if (token.empty())
            continue;
        const auto first = token.find_first_not_of(whiteSpace);
        token = first == std::string::npos
                    ? std::string()
                    : token.substr(first, token.find_last_not_of(whiteSpace) - first + 1);
        token = std::string(token.size() < 2 ? 2 - token.size() : 0, '0') + token;
        bytes.push_back(static_cast<std::uint8_t>(16 * worth(token[0]) + worth(token[1])));
    }
    return bytes;
}

} // namespace

// Whatever the user typed or pasted into the transfer box in Hex Format.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string typed(reinterpret_cast<const char*>(data), size);
    const QByteArray parsed =
        HexTextParser::ParseHexText(QByteArray(typed.data(), static_cast<qsizetype>(size)));
    const std::vector<std::uint8_t> got(parsed.begin(), parsed.end());
    fuzzCheck(got == modelBytes(typed), "hex text gives the bytes of the rules");

    // The same bytes as text: one byte per character, whatever the byte.
    const QByteArray latin1 = HexTextParser::TextToLatin1(
        QString::fromLatin1(typed.data(), static_cast<qsizetype>(size)));
    fuzzCheck(latin1 == QByteArray(typed.data(), static_cast<qsizetype>(size)),
              "Latin-1 text goes out byte for byte");
    return 0;
}
