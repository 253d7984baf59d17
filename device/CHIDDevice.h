#pragma once

#include "device/WendrakeTypes.h"
#include "device/platform/HidPlatform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Finds HID interfaces by vendor and product id, opens one exclusively and moves whole reports.
// Devices are addressed by match index: the position among openable interfaces with matching ids.
class CHIDDevice {
public:
    static constexpr unsigned MaxInterfaces = 64;
    static constexpr std::size_t MaxPathLength = 259; // the path buffer holds 260 with the NUL
    static constexpr std::size_t SerialBufferBytes = 512;

    explicit CHIDDevice(HidPlatform& platform);
    virtual ~CHIDDevice();

    CHIDDevice(const CHIDDevice&) = delete;
    CHIDDevice& operator=(const CHIDDevice&) = delete;

    unsigned CountDevices(std::uint16_t vendorId, std::uint16_t productId);
    HidStatus ReadSerialString(unsigned matchIndex, std::uint16_t vendorId, std::uint16_t productId,
                               std::uint8_t* buffer, std::size_t length);
    // Path and serial of every interface with these ids that can be opened now, in match-index
    // order (the walk CountDevices makes).
    struct MatchingInterface {
        std::string Path;
        std::optional<std::u16string> Serial; // nullopt when the device would not tell
    };
    std::vector<MatchingInterface> ListMatching(std::uint16_t vendorId, std::uint16_t productId);
    HidStatus OpenDevice(unsigned matchIndex, std::uint16_t vendorId, std::uint16_t productId,
                         std::uint16_t requestedInputBuffers);
    HidStatus CloseDevice();
    bool IsDeviceOpen();

    std::uint16_t InputReportLength() const { return m_inputReportLength; }
    std::uint16_t OutputReportLength() const { return m_outputReportLength; }
    std::uint16_t FeatureReportLength() const { return m_featureReportLength; }
    std::uint16_t InputBufferCount() const;

    HidStatus ReadFeatureReport(std::uint8_t* buffer, std::size_t length);
    HidStatus WriteFeatureReport(const std::uint8_t* buffer, std::size_t length);
    HidStatus WriteInterruptReport(const std::uint8_t* buffer, std::size_t length);
    // The same with a time-out of its own for this one report (typed sends bound their wait).
    HidStatus WriteInterruptReport(const std::uint8_t* buffer, std::size_t length,
                                   std::uint32_t timeoutMs);
    HidStatus ReadInterruptReports(std::uint8_t* buffer, std::size_t bufferLength, unsigned count,
                                   std::size_t& bytesRead);
    bool FlushInputQueue();

    // Wake a pending interrupt transfer from another thread (see HidPlatform::cancel).
    void CancelPendingTransfer(TransferKind kind);
    void ResetCancel(TransferKind kind);

    HidPlatform& Platform() const { return m_platform; }

private:
    void ResetState();
    bool FindInterfacePath(unsigned index, std::string& path);
    // Opens the matching interfaces one at a time in enumeration order and hands each, with its
    // match number (and its path, if visit takes it), to visit: true keeps the handle and ends the
    // walk (the result is then true), false has it closed.
    template <class Visit>
    bool ForEachMatching(std::uint16_t vendorId, std::uint16_t productId, Visit visit);
    HidHandle OpenIfMatching(const std::string& path, std::uint16_t vendorId,
                             std::uint16_t productId);

    HidPlatform& m_platform;
    HidHandle m_handle = InvalidHidHandle;
    bool m_open = false;
    std::uint32_t m_readTimeout = HidInfiniteTimeout;
    std::uint32_t m_writeTimeout = HidInfiniteTimeout;
    std::uint16_t m_inputReportLength = 0;
    std::uint16_t m_outputReportLength = 0;
    std::uint16_t m_featureReportLength = 0;
    std::uint16_t m_inputBufferCount = 0;
};
