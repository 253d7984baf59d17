#include "device/WendrakeProtocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

// The byte layouts both ends of the link share: a fault here would look right from either end
// alone, so the bytes are written out by hand.

namespace {

using namespace WendrakeProtocol;
using Report = std::array<std::uint8_t, 9>;

TEST(WendrakeProtocolTest, FeatureLengthsOfEveryId) {
    const std::vector<std::pair<unsigned, std::size_t>> cases = {
        {0x3F, 0}, {0x40, 2}, {0x41, 2}, {0x42, 2}, {0x43, 2}, {0x44, 2}, {0x45, 2}, {0x46, 9},
        {0x47, 5}, {0x48, 2}, {0x49, 5}, {0x4A, 2}, {0x4B, 3}, {0x4C, 0}, {0x00, 0}, {0x81, 0},
    };
    for (const auto& [id, length] : cases)
        EXPECT_EQ(FeatureLength(std::uint8_t(id)), length) << std::hex << id;
    EXPECT_EQ(LongestFeatureLength, 9u);
    EXPECT_EQ(MaxStreamPayload, 64u);
}

struct UartCase {
    UartConfig config;
    Report bytes;
};

TEST(WendrakeProtocolTest, UartConfigIsLittleEndianBaudThenFourBytes) {
    const UartCase cases[] = {
        {{115200, 0, 0, 8, 0}, {0x46, 0x00, 0xC2, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00}},
        {{9600, 2, 1, 7, 1}, {0x46, 0x80, 0x25, 0x00, 0x00, 0x02, 0x01, 0x07, 0x01}},
        {{0xA1B2C3D4u, 255, 254, 253, 252}, {0x46, 0xD4, 0xC3, 0xB2, 0xA1, 255, 254, 253, 252}},
    };
    for (const UartCase& c : cases) {
        Report written{0x46, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        PutUartConfig(c.config, written.data());
        EXPECT_EQ(written, c.bytes);
        EXPECT_EQ(TakeUartConfig(c.bytes.data()), c.config);
    }
}

TEST(WendrakeProtocolTest, PinConfigAndFifoStatusLayouts) {
    Report pins{0x49, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    PutPinConfig({4, 3, 1, 0x7F}, pins.data());
    EXPECT_EQ(pins, (Report{0x49, 4, 3, 1, 0x7F, 0xEE, 0xEE, 0xEE, 0xEE})); // nothing past byte 4
    EXPECT_EQ(TakePinConfig(pins.data()), (PinConfig{4, 3, 1, 0x7F}));

    // FIFO counts go most significant byte first, unlike the baud rate.
    Report fifo{0x47, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    PutFifoStatus({0x0102, 0xFEDC}, fifo.data());
    EXPECT_EQ(fifo, (Report{0x47, 0x01, 0x02, 0xFE, 0xDC, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(TakeFifoStatus(fifo.data()), (FifoStatus{0x0102, 0xFEDC}));
}

} // namespace
