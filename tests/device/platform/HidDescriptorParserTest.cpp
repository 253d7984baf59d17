#include "device/platform/HidDescriptorParser.h"
#include "emulator/AdapterFirmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Boot keyboard: 8 modifier bits, a reserved byte, 5 LED bits plus 3 padding bits out, six key
// codes in.
const Bytes BootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, // Key codes, usages 224..231
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, // 8 x 1 bit, Input
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                         // 1 x 8 bits, Input constant
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, // LEDs, Output
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01, // 3 bits padding, Output constant
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00,
    0x29, 0x65, 0x81, 0x00, // 6 x 8 bits, Input array
    0xC0};

// Boot mouse: three buttons, five padding bits, X and Y, in a physical collection.
const Bytes BootMouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00,
                         0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01,
                         0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
                         0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81,
                         0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};

// Vendor page without report ids: 64 bytes in, 32 out, 4 feature.
const Bytes VendorNoIds = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                           0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x20,
                           0x09, 0x02, 0x91, 0x02, 0x95, 0x04, 0x09, 0x03, 0xB1, 0x02, 0xC0};

// Vendor page with ids; id 1's input is split around id 2's and its feature over two items.
const Bytes VendorWithIds = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, //
                             0x85, 0x01, 0x95, 0x0A, 0x81, 0x02, // id 1: 10 bytes in
                             0x85, 0x02, 0x95, 0x0C, 0x81, 0x02, // id 2: 12 bytes in
                             0x85, 0x01, 0x95, 0x05, 0x81, 0x02, // id 1: 5 more in (15)
                             0x85, 0x03, 0x95, 0x07, 0x91, 0x02, // id 3: 7 bytes out
                             0x85, 0x01, 0x95, 0x03, 0xB1, 0x02, 0x95, 0x04, 0xB1,
                             0x02, // id 1: 3 + 4 feature
                             0xC0};

// Long items (one with data, one empty) between ordinary ones.
const Bytes WithLongItems = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xFE, 0x03,
                             0x42, 0xAA, 0xBB, 0xCC, 0x75, 0x08, 0x95, 0x10, 0xFE,
                             0x00, 0x17, 0x81, 0x02, 0xC0, 0xFE, 0x01, 0x01, 0x00};

// Push keeps size 8 / count 4 / id 1 while id 2 gets 20 bytes; pop brings them back.
const Bytes WithPushPop = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75,
                           0x08, 0x95, 0x04, 0xA4, 0x85, 0x02, 0x75, 0x10, 0x95, 0x0A,
                           0x81, 0x02, 0xB4, 0x81, 0x02, 0x81, 0x02, 0xC0};

// Report count in a four-byte item, report size in a two-byte item; 12 bits round up to 2 bytes.
const Bytes WideItems = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x76, 0x08, 0x00, 0x97, 0x30,
                         0x00, 0x00, 0x00, 0x81, 0x02, 0x75, 0x0C, 0x95, 0x01, 0x91, 0x02, 0xC0};

struct GoodCase {
    const char* name;
    Bytes descriptor;
    HidCaps expected;
    bool usesIds;
};

class HidDescriptorParserGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(HidDescriptorParserGood, AnswersLargestReportOfEachTypeWithIdByte) {
    const GoodCase& c = GetParam();
    const auto result = HidDescriptorParser::parse(c.descriptor);
    ASSERT_TRUE(result.ok) << result.error << " at " << result.errorOffset;
    EXPECT_EQ(result.caps.InputReportLength, c.expected.InputReportLength);
    EXPECT_EQ(result.caps.OutputReportLength, c.expected.OutputReportLength);
    EXPECT_EQ(result.caps.FeatureReportLength, c.expected.FeatureReportLength);
    EXPECT_EQ(result.usesReportIds, c.usesIds);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, HidDescriptorParserGood,
    ::testing::Values(GoodCase{"Adapter", AdapterFirmware::ReportDescriptor(), {65, 65, 9}, true},
                      GoodCase{"BootKeyboard", BootKeyboard, {9, 2, 0}, false},
                      GoodCase{"BootMouse", BootMouse, {4, 0, 0}, false},
                      GoodCase{"VendorNoIds", VendorNoIds, {65, 33, 5}, false},
                      GoodCase{"VendorWithIds", VendorWithIds, {16, 8, 8}, true},
                      GoodCase{"LongItems", WithLongItems, {17, 0, 0}, false},
                      GoodCase{"PushPop", WithPushPop, {21, 0, 0}, true},
                      GoodCase{"WideItems", WideItems, {49, 3, 0}, false},
                      // The largest report whose length still fits 16 bits.
                      GoodCase{"LargestReport",
                               {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02},
                               {0xFFFF, 0, 0},
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    Bytes descriptor;
    std::size_t offset;
};

class HidDescriptorParserBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(HidDescriptorParserBad, FailsWithMessageAndOffset) {
    const BadCase& c = GetParam();
    const auto result = HidDescriptorParser::parse(c.descriptor);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(result.errorOffset, c.offset) << result.error;
    EXPECT_EQ(result.caps.InputReportLength, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, HidDescriptorParserBad,
    ::testing::Values(
        BadCase{"Empty", {}, 0}, BadCase{"TruncatedOneByteItem", {0x75}, 0},
        BadCase{"TruncatedFourByteItem", {0xA1, 0x01, 0x97, 0x10, 0x00}, 2},
        BadCase{"LongItemHeaderCut", {0xFE, 0x05}, 0},
        BadCase{"LongItemPastEnd", {0x75, 0x08, 0xFE, 0x05, 0x00, 0x01, 0x02}, 2},
        BadCase{"PopWithoutPush", {0x75, 0x08, 0xB4}, 2},
        BadCase{"PushTooDeep", Bytes(HidDescriptorParser::MaxGlobalStackDepth + 1, 0xA4),
                HidDescriptorParser::MaxGlobalStackDepth},
        BadCase{"CollectionNotClosed", {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 8},
        BadCase{"EndWithoutCollection", {0xC0}, 0},
        BadCase{"CollectionsTooDeep",
                [] {
                    Bytes d;
                    for (std::size_t i = 0; i <= HidDescriptorParser::MaxCollectionDepth; ++i)
                        d.insert(d.end(), {0xA1, 0x00});
                    return d;
                }(),
                HidDescriptorParser::MaxCollectionDepth * 2},
        BadCase{"AbsurdSizeTimesCount",
                {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02},
                10},
        BadCase{"ReportOneByteTooLong", {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02}, 5},
        BadCase{
            "SumOverflowsAcrossItems", {0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x02, 0x81, 0x02}, 7},
        BadCase{"ReportIdZero", {0x85, 0x00}, 0},
        BadCase{"ReportIdAbove255", {0x86, 0x00, 0x01}, 0},
        BadCase{"ReservedItemType", {0x75, 0x08, 0x0C}, 2},
        BadCase{"DataBeforeFirstReportId",
                {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02},
                4},
        BadCase{"PopBringsBackIdZero",
                {0x75, 0x08, 0x95, 0x01, 0xA4, 0x85, 0x01, 0x81, 0x02, 0xB4, 0x81, 0x02},
                10}),
    [](const auto& info) { return std::string(info.param.name); });

// A cut of a well-formed descriptor ends inside an item or leaves a collection open, so it must
// fail cleanly without reading past what it was given. Only a cut before the first collection
// (usage page and usage alone) is well-formed, and it declares no report.
TEST(HidDescriptorParser, EveryTruncationFails) {
    struct Full {
        Bytes bytes;
        std::vector<std::size_t> itemEndsBeforeCollection;
    };
    for (const Full& full :
         {Full{BootKeyboard, {2, 4}}, Full{BootMouse, {2, 4}}, Full{VendorWithIds, {3, 5}},
          Full{AdapterFirmware::ReportDescriptor(), {3, 5}}}) {
        for (std::size_t cut = 0; cut < full.bytes.size(); ++cut) {
            const Bytes prefix(full.bytes.begin(), full.bytes.begin() + cut);
            const auto result = HidDescriptorParser::parse(prefix);
            const auto& ends = full.itemEndsBeforeCollection;
            if (std::find(ends.begin(), ends.end(), cut) != ends.end()) {
                EXPECT_TRUE(result.ok) << "cut at " << cut;
                EXPECT_EQ(result.caps.InputReportLength, 0);
                continue;
            }
            EXPECT_FALSE(result.ok) << "cut at " << cut;
            EXPECT_LE(result.errorOffset, cut);
        }
    }
}

TEST(HidDescriptorParser, ArbitraryBytesNeverReadOutOfBounds) {
    // A fixed pseudo-random walk over byte strings; only the reads' bounds are at stake (run
    // under the sanitizers), plus the promise that a failure always carries a message.
    std::uint32_t state = 0x2545F491;
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(1 + round % 40);
        for (auto& b : bytes) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<std::uint8_t>(state);
        }
        const auto result = HidDescriptorParser::parse(bytes);
        EXPECT_TRUE(result.ok || !result.error.empty());
        EXPECT_LE(result.errorOffset, bytes.size());
    }
}

} // namespace
