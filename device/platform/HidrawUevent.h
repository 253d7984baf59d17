#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The fields of a hid device's uevent text that the hidraw platform needs. Parsing is kept apart
// from reading the file so that it can be fed any text.
struct HidrawUevent {
    struct Id {
        std::uint32_t Bus = 0;
        std::uint16_t VendorId = 0;
        std::uint16_t ProductId = 0;
    };

    std::optional<Id> HidId;         // HID_ID=0003:0000E7A2:00004D15
    std::optional<std::string> Name; // HID_NAME
    std::optional<std::string> Uniq; // HID_UNIQ, the serial number (may be present but empty)

    // Lines of KEY=VALUE; unknown keys are ignored, a malformed HID_ID leaves HidId empty.
    static HidrawUevent parse(std::string_view text);
};

// UTF-8 to UTF-16; every ill-formed sequence becomes one U+FFFD, so that no input is rejected
// and no input byte is read twice or past the end.
std::u16string utf8ToUtf16(std::string_view text);
