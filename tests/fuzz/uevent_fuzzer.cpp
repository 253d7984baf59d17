#include "device/platform/HidrawUevent.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool wellFormedUtf16(const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::u16string fromQt(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

} // namespace

// A uevent file is written by the kernel from what the device says of itself: its name and
// serial number are the device's own bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const HidrawUevent uevent = HidrawUevent::parse(text);
    for (const auto& value : {uevent.Name, uevent.Uniq})
        if (value)
            fuzzCheck(value->find('\n') == std::string::npos, "a value ends at its line");

    const std::u16string utf16 = utf8ToUtf16(text);
    fuzzCheck(utf16.size() <= size, "no more code units than bytes");
    fuzzCheck(wellFormedUtf16(utf16), "the serial text is well-formed UTF-16");

    // Text that is valid UTF-8 (it survives Qt's decoder and encoder unchanged) converts as any
    // decoder would convert it.
    const QByteArray bytes(text.data(), static_cast<qsizetype>(size));
    const QString decoded = QString::fromUtf8(bytes);
    if (decoded.toUtf8() == bytes)
        fuzzCheck(utf16 == fromQt(decoded), "valid UTF-8 converts exactly");

    // A replacement is itself valid text, so converting the result again changes nothing.
    const QString again = QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
    fuzzCheck(utf8ToUtf16(again.toUtf8().toStdString()) == utf16, "a converted text is stable");
    return 0;
}
