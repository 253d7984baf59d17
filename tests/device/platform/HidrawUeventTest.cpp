#include "device/platform/HidrawUevent.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HidrawUevent, ParsesTheHidDeviceFields) {
    const auto u = HidrawUevent::parse("DRIVER=hid-generic\nHID_ID=0003:0000E7A2:00004D15\n"
                                       "HID_NAME=Wendrake Adapter\nHID_PHYS=usb-0000:00:14.0-2/"
                                       "input0\nHID_UNIQ=WDK1\nMODALIAS=hid:b0003g0001v0000E7A2\n");
    ASSERT_TRUE(u.HidId);
    EXPECT_EQ(u.HidId->Bus, 3u);
    EXPECT_EQ(u.HidId->VendorId, 0xE7A2);
    EXPECT_EQ(u.HidId->ProductId, 0x4D15);
    EXPECT_EQ(u.Name, "Wendrake Adapter");
    EXPECT_EQ(u.Uniq, "WDK1");
}

struct UeventCase {
    const char* name;
    const char* text;
    bool hasId;
    std::uint16_t vendor;
    std::optional<std::string> uniq;
};

class HidrawUeventCases : public ::testing::TestWithParam<UeventCase> {};

TEST_P(HidrawUeventCases, Fields) {
    const auto& c = GetParam();
    const auto u = HidrawUevent::parse(c.text);
    EXPECT_EQ(u.HidId.has_value(), c.hasId);
    if (c.hasId && u.HidId) {
        EXPECT_EQ(u.HidId->VendorId, c.vendor);
    }
    EXPECT_EQ(u.Uniq, c.uniq);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HidrawUeventCases,
    ::testing::Values(
        UeventCase{"NoTrailingNewline", "HID_UNIQ=A1\nHID_ID=0005:0000046D:0000B01D", true, 0x046D,
                   "A1"},
        UeventCase{"EmptySerial", "HID_ID=0003:0000E7A2:00004D15\nHID_UNIQ=\n", true, 0xE7A2, ""},
        UeventCase{"NoSerialKey", "HID_ID=0003:0000E7A2:00004D15\n", true, 0xE7A2, std::nullopt},
        UeventCase{"CrLf", "HID_ID=0003:0000E7A2:00004D15\r\nHID_UNIQ=X9\r\n", true, 0xE7A2, "X9"},
        UeventCase{"EqualsInValue", "HID_UNIQ=a=b\n", false, 0, "a=b"},
        UeventCase{"IdMissingProduct", "HID_ID=0003:0000E7A2\n", false, 0, std::nullopt},
        UeventCase{"IdNotHex", "HID_ID=0003:0000E7G2:00004D15\n", false, 0, std::nullopt},
        UeventCase{"IdVendorOver16Bits", "HID_ID=0003:0001E7A2:00004D15\n", false, 0, std::nullopt},
        UeventCase{"IdTrailingJunk", "HID_ID=0003:0000E7A2:00004D15x\n", false, 0, std::nullopt},
        UeventCase{"LinesWithoutEquals", "garbage\n\n=\nHID_UNIQ=Z\n", false, 0, "Z"},
        UeventCase{"Empty", "", false, 0, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

class Utf8ToUtf16 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToUtf16, Converts) {
    EXPECT_EQ(utf8ToUtf16(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8ToUtf16,
    ::testing::Values(Utf8Case{"Ascii", "WDK1", u"WDK1"},
                      Utf8Case{"TwoByte", "\xC3\x84x", u"\u00C4x"},
                      Utf8Case{"ThreeByte", "\xE2\x82\xAC", u"\u20AC"},
                      Utf8Case{"FourByteToSurrogates", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      Utf8Case{"LargestCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                      Utf8Case{"InvalidLead",
                               "a\xFF"
                               "b",
                               u"a\uFFFDb"},
                      Utf8Case{"LoneContinuation", "\x80", u"\uFFFD"},
                      Utf8Case{"CutAtEnd", "x\xE2\x82", u"x\uFFFD"},
                      Utf8Case{"CutBeforeAscii",
                               "\xE2\x82"
                               "A",
                               u"\uFFFDA"},
                      Utf8Case{"Overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                      Utf8Case{"OverlongThreeByte", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"AboveUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
