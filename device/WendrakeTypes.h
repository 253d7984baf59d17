#pragma once

#include <cstdint>

// Records and status codes shared by the adapter layers, the terminal and the settings.

// Result of every CHIDDevice operation.
enum HidStatus : std::uint8_t {
    HidOk = 0,
    HidNoDevice = 1,
    HidNotOpen = 2,
    HidAlreadyOpen = 3,
    HidTimedOut = 4,
    HidFailed = 5,
    HidBadHandle = 7,
    HidBadBufferSize = 8,
};

// Result of every CWendrake operation; callers test zero against non-zero.
enum WendrakeStatus : std::uint8_t {
    WendrakeOk = 0,
    WendrakeNotConnected = 2,
    WendrakeOpenFailed = 3,
    WendrakeCommandFailed = 4,
    WendrakeModeRefused = 5,
    WendrakeInvalidParameter = 6,
    WendrakeAlreadyConnected = 7,
    WendrakeBadBuffer = 8,
    // Connect found report lengths the command set or the stream cannot use; the device is closed.
    WendrakeUnsupportedDevice = 9,
};

inline constexpr std::uint16_t WendrakeVendorId = 0xE7A2;
inline constexpr std::uint16_t WendrakeProductId = 0x4D15;

// Device-interface names of adapter notices begin with exactly these 25 characters.
inline constexpr char AdapterPathPrefix[] = "\\\\?\\HID#Vid_e7a2&Pid_4d15";
static_assert(sizeof(AdapterPathPrefix) == 26);

// UART configuration, the payload of feature report 0x46.
struct UartConfig {
    std::uint32_t BaudRate = 115200;
    std::uint8_t Parity = 0;      // 0 none, 1 even, 2 odd, 3 mark, 4 space
    std::uint8_t FlowControl = 0; // 0 none, 1 RTS/CTS
    std::uint8_t DataBits = 8;    // 5 to 8
    std::uint8_t StopBits = 0;    // 0 one; 1 two, or one and a half with 5 data bits

    bool operator==(const UartConfig&) const = default;
};

// UartConfig::FlowControl values.
inline constexpr std::uint8_t FlowControlNone = 0;
inline constexpr std::uint8_t FlowControlRtsCts = 1;

// Pin configuration, the payload of feature report 0x49.
struct PinConfig {
    std::uint8_t Gpio0Mode =
        0; // 0 input, 1 open drain, 2 push-pull, 3 RTS push-pull, 4 RTS open drain
    std::uint8_t Gpio1Mode = 0;     // 0 input, 1 open drain, 2 push-pull, 3 CTS input
    std::uint8_t TxMode = 0;        // 0 push-pull, 1 open drain
    std::uint8_t FourthPinMode = 0; // carried unchanged

    bool operator==(const PinConfig&) const = default;
};

// The GPIO modes whose level the host may set.
namespace PinMode {
inline constexpr std::uint8_t GpioOpenDrain = 1;
inline constexpr std::uint8_t GpioPushPull = 2;
} // namespace PinMode

// Bytes waiting in the adapter's transmit and receive FIFOs.
struct FifoStatus {
    std::uint16_t TxCount = 0;
    std::uint16_t RxCount = 0;

    bool operator==(const FifoStatus&) const = default;
};

// Pin latch bits, set = line high.
namespace PinLatchBit {
inline constexpr std::uint8_t Gpio0 = 0x01;
inline constexpr std::uint8_t Gpio1 = 0x02;
inline constexpr std::uint8_t Q3Reset = 0x04;
inline constexpr std::uint8_t Suspend = 0x08;
inline constexpr std::uint8_t Vppctl = 0x10;
} // namespace PinLatchBit
