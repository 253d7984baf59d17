#pragma once

#include "device/WendrakeTypes.h"

#include <cstddef>
#include <cstdint>

// The adapter's report protocol as both ends speak it: the host (CWendrake) and the firmware
// model of the emulator. Feature report ids and lengths, the byte layout of the configuration
// records, and the stream report ids. Standard library only, like the firmware model.
namespace WendrakeProtocol {

// Feature report ids of the command set.
enum ReportId : std::uint8_t {
    SetModeReport = 0x40,
    ConfirmModeReport = 0x41,
    GetModeReport = 0x42,
    VersionMajorReport = 0x43,
    VersionMinorReport = 0x44,
    UartEnableReport = 0x45,
    UartConfigReport = 0x46,
    FifoStatusReport = 0x47,
    PurgeFifoReport = 0x48,
    PinConfigReport = 0x49,
    GetPinLatchReport = 0x4A,
    SetPinLatchReport = 0x4B,
};
inline constexpr std::uint8_t FirstFeatureId = SetModeReport;
inline constexpr std::uint8_t LastFeatureId = SetPinLatchReport;

// Byte lengths of the feature reports, id included.
inline constexpr std::size_t ByteReportLength = 2;
inline constexpr std::size_t UartConfigReportLength = 9;
inline constexpr std::size_t FifoStatusReportLength = 5;
inline constexpr std::size_t PinConfigReportLength = 5;
inline constexpr std::size_t SetPinLatchReportLength = 3;
// The longest command: a device with shorter feature reports cannot carry the command set.
inline constexpr std::size_t LongestFeatureLength = UartConfigReportLength;

// Exact length (id included) of a feature report of the command set, 0 for other ids.
constexpr std::size_t FeatureLength(std::uint8_t reportId) {
    switch (reportId) {
    case UartConfigReport:
        return UartConfigReportLength;
    case FifoStatusReport:
        return FifoStatusReportLength;
    case PinConfigReport:
        return PinConfigReportLength;
    case SetPinLatchReport:
        return SetPinLatchReportLength;
    default:
        return reportId >= FirstFeatureId && reportId <= LastFeatureId ? ByteReportLength : 0;
    }
}

// 0x40: the host asks for its mode (the adapter then answers idle until 0x41 confirms), or hands
// the adapter back.
enum ModeRequest : std::uint8_t {
    HandBackMode = 1,
    RequestHostMode = 2,
};
// 0x41 carries this one value.
inline constexpr std::uint8_t ConfirmModeValue = 0;
// 0x42 answers: idle, waiting for the host's confirmation; or connected (confirmed, or handed
// back).
enum ModeState : std::uint8_t {
    ModeIdle = 0,
    ModeConnected = 1,
};

// 0x45: the UART off or on.
enum UartEnableValue : std::uint8_t {
    UartOff = 0,
    UartOn = 1,
};

// 0x48: which FIFO to empty.
enum PurgeSelector : std::uint8_t {
    PurgeTransmit = 0,
    PurgeReceive = 1,
    PurgeBoth = 2,
};

// 0x4B with the mask PinLatchBit::Q3Reset: Q3 Reset low, every other bit (masked off) high.
inline constexpr std::uint8_t Q3ResetLowLatch = static_cast<std::uint8_t>(~PinLatchBit::Q3Reset);
static_assert(Q3ResetLowLatch == 0xFB);

// UART stream reports, both directions: id = StreamIdBase + the number of bytes carried.
inline constexpr std::uint8_t StreamIdBase = 0x80;
inline constexpr std::uint8_t FirstStreamId = 0x81;
inline constexpr std::uint8_t LastStreamId = 0xC0;
inline constexpr std::size_t MaxStreamPayload = LastStreamId - StreamIdBase;

// 0x46: the baud rate least significant byte first, then parity, flow control, data bits and
// stop bits. The functions take the whole report; byte 0 is the id and stays untouched.
inline void PutUartConfig(const UartConfig& config, std::uint8_t* report) {
    for (int i = 0; i < 4; ++i)
        report[1 + i] = static_cast<std::uint8_t>(config.BaudRate >> (8 * i));
    report[5] = config.Parity;
    report[6] = config.FlowControl;
    report[7] = config.DataBits;
    report[8] = config.StopBits;
}

inline UartConfig TakeUartConfig(const std::uint8_t* report) {
    UartConfig config;
    config.BaudRate = std::uint32_t{report[1]} | std::uint32_t{report[2]} << 8 |
                      std::uint32_t{report[3]} << 16 | std::uint32_t{report[4]} << 24;
    config.Parity = report[5];
    config.FlowControl = report[6];
    config.DataBits = report[7];
    config.StopBits = report[8];
    return config;
}

// 0x49: the four mode bytes in field order.
inline void PutPinConfig(const PinConfig& config, std::uint8_t* report) {
    report[1] = config.Gpio0Mode;
    report[2] = config.Gpio1Mode;
    report[3] = config.TxMode;
    report[4] = config.FourthPinMode;
}

inline PinConfig TakePinConfig(const std::uint8_t* report) {
    return {report[1], report[2], report[3], report[4]};
}

// 0x47: unlike the baud rate, the counts go most significant byte first.
inline void PutFifoStatus(const FifoStatus& status, std::uint8_t* report) {
    report[1] = static_cast<std::uint8_t>(status.TxCount >> 8);
    report[2] = static_cast<std::uint8_t>(status.TxCount);
    report[3] = static_cast<std::uint8_t>(status.RxCount >> 8);
    report[4] = static_cast<std::uint8_t>(status.RxCount);
}

inline FifoStatus TakeFifoStatus(const std::uint8_t* report) {
    return {static_cast<std::uint16_t>(report[1] << 8 | report[2]),
            static_cast<std::uint16_t>(report[3] << 8 | report[4])};
}

} // namespace WendrakeProtocol
