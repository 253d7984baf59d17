#include "device/platform/HidrawUevent.h"

#include <charconv>

namespace {

std::optional<std::uint32_t> hexField(std::string_view text) {
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The kernel writes "%04X:%08X:%08X"; the ids are 16-bit values in 32-bit fields.
std::optional<HidrawUevent::Id> parseHidId(std::string_view value) {
    const auto first = value.find(':');
    if (first == std::string_view::npos)
        return std::nullopt;
    const auto second = value.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto bus = hexField(value.substr(0, first));
    const auto vendor = hexField(value.substr(first + 1, second - first - 1));
    const auto product = hexField(value.substr(second + 1));
    if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF)
        return std::nullopt;
    return HidrawUevent::Id{*bus, static_cast<std::uint16_t>(*vendor),
                            static_cast<std::uint16_t>(*product)};
}

} // namespace

HidrawUevent HidrawUevent::parse(std::string_view text) {
    HidrawUevent result;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "HID_ID")
            result.HidId = parseHidId(value);
        else if (key == "HID_NAME")
            result.Name = std::string(value);
        else if (key == "HID_UNIQ")
            result.Uniq = std::string(value);
    }
    return result;
}

std::u16string utf8ToUtf16(std::string_view text) {
    constexpr char16_t replacement = 0xFFFD;
    std::u16string out;
    out.reserve(text.size());
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };

    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t trail = 0;
        std::uint32_t code = 0;
        // The allowed range of the first continuation byte rules out overlong forms, surrogates
        // and values above U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            code = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            code = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            out.push_back(replacement);
            ++i;
            continue;
        }

        std::size_t used = 1;
        bool complete = true;
        for (std::size_t k = 0; k < trail; ++k) {
            if (i + used >= text.size()) {
                complete = false;
                break;
            }
            const unsigned char next = byteAt(i + used);
            if (next < low || next > high) {
                complete = false;
                break;
            }
            code = (code << 6) | (next & 0x3F);
            ++used;
            low = 0x80;
            high = 0xBF;
        }
        // A broken sequence is replaced as a whole, up to the byte that broke it.
        i += used;
        if (!complete) {
            out.push_back(replacement);
        } else if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}
