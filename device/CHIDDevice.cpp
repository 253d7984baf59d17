#include "device/CHIDDevice.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

constexpr std::uint16_t DefaultInputBufferCount = 32;

HidStatus statusOf(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::Completed:
        return HidOk;
    case TransferOutcome::TimedOut:
        return HidTimedOut;
    case TransferOutcome::Failed:
        break;
    }
    return HidFailed;
}

bool isValidHandle(HidHandle handle) {
    return handle != InvalidHidHandle && handle != 0;
}

} // namespace

CHIDDevice::CHIDDevice(HidPlatform& platform) : m_platform(platform) {
    ResetState();
}

CHIDDevice::~CHIDDevice() {
    CloseDevice();
}

void CHIDDevice::ResetState() {
    m_handle = InvalidHidHandle;
    m_open = false;
    m_inputReportLength = 0;
    m_outputReportLength = 0;
    m_featureReportLength = 0;

    // Old NT releases queue too few input reports by default, so we pick our own count there;
    // everywhere else the driver's count is asked for when a device is opened.
    const OsVersion version = m_platform.osVersion();
    if (version.PlatformId == 2 && version.Major == 5)
        m_inputBufferCount = version.Minor == 0 ? 200 : 512;
    else
        m_inputBufferCount = 0;
}

bool CHIDDevice::FindInterfacePath(unsigned index, std::string& path) {
    if (index >= MaxInterfaces)
        return false;
    std::optional<std::string> found = m_platform.interfacePath(index);
    if (!found)
        return false;
    path = std::move(*found);
    return true;
}

HidHandle CHIDDevice::OpenIfMatching(const std::string& path, std::uint16_t vendorId,
                                     std::uint16_t productId) {
    // A path that does not fit the 260-byte path buffer would be cut off and name another
    // interface, or none; such an interface is skipped and takes no match index.
    if (path.empty() || path.size() > MaxPathLength)
        return InvalidHidHandle;

    const HidHandle handle = m_platform.openExclusive(path);
    if (!isValidHandle(handle))
        return InvalidHidHandle;

    HidAttributes attributes;
    if (m_platform.attributes(handle, attributes) && attributes.VendorId == vendorId &&
        attributes.ProductId == productId)
        return handle;

    m_platform.close(handle);
    return InvalidHidHandle;
}

template <class Visit>
bool CHIDDevice::ForEachMatching(std::uint16_t vendorId, std::uint16_t productId, Visit visit) {
    unsigned matches = 0;
    std::string path;
    for (unsigned index = 0; FindInterfacePath(index, path); ++index) {
        const HidHandle handle = OpenIfMatching(path, vendorId, productId);
        if (handle == InvalidHidHandle)
            continue;
        bool keep = false;
        if constexpr (std::is_invocable_v<Visit, HidHandle, unsigned, const std::string&>)
            keep = visit(handle, matches++, path);
        else
            keep = visit(handle, matches++);
        if (keep)
            return true;
        m_platform.close(handle);
    }
    return false;
}

unsigned CHIDDevice::CountDevices(std::uint16_t vendorId, std::uint16_t productId) {
    unsigned count = 0;
    ForEachMatching(vendorId, productId, [&count](HidHandle, unsigned) {
        ++count;
        return false;
    });
    return count;
}

std::vector<CHIDDevice::MatchingInterface> CHIDDevice::ListMatching(std::uint16_t vendorId,
                                                                    std::uint16_t productId) {
    std::vector<MatchingInterface> found;
    ForEachMatching(vendorId, productId, [&](HidHandle handle, unsigned, const std::string& path) {
        constexpr std::size_t serialUnits = SerialBufferBytes / sizeof(char16_t);
        char16_t serial[serialUnits] = {};
        MatchingInterface entry{path, std::nullopt};
        if (m_platform.serialString(handle, serial, serialUnits)) {
            serial[serialUnits - 1] = u'\0';
            entry.Serial = std::u16string(serial);
        }
        found.push_back(std::move(entry));
        return false;
    });
    return found;
}

HidStatus CHIDDevice::ReadSerialString(unsigned matchIndex, std::uint16_t vendorId,
                                       std::uint16_t productId, std::uint8_t* buffer,
                                       std::size_t length) {
    constexpr std::size_t serialUnits = SerialBufferBytes / sizeof(char16_t);
    // The low bytes come from at most 256 code units; a longer destination would read past them.
    if (!buffer || length > serialUnits)
        return HidBadBufferSize;

    HidStatus status = HidNoDevice;
    // Every later match is still opened and closed, as the walk over the list always was.
    ForEachMatching(vendorId, productId, [&](HidHandle handle, unsigned match) {
        if (match == matchIndex) {
            char16_t serial[serialUnits] = {};
            if (m_platform.serialString(handle, serial, serialUnits)) {
                // Keep a terminator even if the platform filled every unit.
                serial[serialUnits - 1] = u'\0';
                std::memset(buffer, 0, length);
                for (std::size_t i = 0; i < length; ++i)
                    buffer[i] = static_cast<std::uint8_t>(serial[i] & 0xFF);
                status = HidOk;
            }
        }
        return false;
    });
    return status;
}

HidStatus CHIDDevice::OpenDevice(unsigned matchIndex, std::uint16_t vendorId,
                                 std::uint16_t productId, std::uint16_t requestedInputBuffers) {
    if (m_open)
        return HidAlreadyOpen;

    const bool opened = ForEachMatching(vendorId, productId, [&](HidHandle handle, unsigned match) {
        if (match != matchIndex)
            return false;

        // From here on the device counts as open, whatever the lengths turn out to be.
        m_handle = handle;
        m_open = true;

        HidCaps caps;
        if (m_platform.capabilities(handle, caps)) {
            if (caps.InputReportLength != 0)
                m_inputReportLength = caps.InputReportLength;
            if (caps.OutputReportLength != 0)
                m_outputReportLength = caps.OutputReportLength;
            if (caps.FeatureReportLength != 0)
                m_featureReportLength = caps.FeatureReportLength;
        }

        if (m_inputBufferCount != 0 && requestedInputBuffers != 0) {
            // Whether the driver takes the count is not examined; the kept count never drops.
            m_platform.setInputBufferCount(handle, requestedInputBuffers);
            m_inputBufferCount = std::max(m_inputBufferCount, requestedInputBuffers);
        } else {
            std::uint32_t driverCount = 0;
            if (m_platform.inputBufferCount(handle, driverCount))
                m_inputBufferCount =
                    static_cast<std::uint16_t>(std::min<std::uint32_t>(driverCount, 0xFFFF));
        }
        return true;
    });
    return opened ? HidOk : HidNoDevice;
}

HidStatus CHIDDevice::CloseDevice() {
    if (!m_open)
        return HidNotOpen;
    if (isValidHandle(m_handle)) {
        m_platform.close(m_handle);
        ResetState();
        return HidOk;
    }
    ResetState();
    return HidBadHandle;
}

bool CHIDDevice::IsDeviceOpen() {
    if (!m_open)
        return false;
    if (isValidHandle(m_handle))
        return true;
    ResetState();
    return false;
}

std::uint16_t CHIDDevice::InputBufferCount() const {
    return m_inputBufferCount != 0 ? m_inputBufferCount : DefaultInputBufferCount;
}

HidStatus CHIDDevice::ReadFeatureReport(std::uint8_t* buffer, std::size_t length) {
    if (!IsDeviceOpen())
        return HidNotOpen;
    if (!buffer || length == 0)
        return HidFailed;
    const std::uint8_t reportId = buffer[0];
    std::memset(buffer, 0, length);
    buffer[0] = reportId;
    return m_platform.getFeature(m_handle, buffer, length) ? HidOk : HidFailed;
}

HidStatus CHIDDevice::WriteFeatureReport(const std::uint8_t* buffer, std::size_t length) {
    if (!IsDeviceOpen())
        return HidNotOpen;
    if (!buffer || length == 0)
        return HidFailed;
    return m_platform.setFeature(m_handle, buffer, length) ? HidOk : HidFailed;
}

HidStatus CHIDDevice::WriteInterruptReport(const std::uint8_t* buffer, std::size_t length) {
    return WriteInterruptReport(buffer, length, m_writeTimeout);
}

HidStatus CHIDDevice::WriteInterruptReport(const std::uint8_t* buffer, std::size_t length,
                                           std::uint32_t timeoutMs) {
    // The length is judged before the handle: a closed device has an output length of 0.
    if (!buffer || length == 0 || length > m_outputReportLength)
        return HidBadBufferSize;
    if (!IsDeviceOpen())
        return HidNotOpen;
    return statusOf(m_platform.writeReport(m_handle, buffer, length, timeoutMs));
}

HidStatus CHIDDevice::ReadInterruptReports(std::uint8_t* buffer, std::size_t bufferLength,
                                           unsigned count, std::size_t& bytesRead) {
    const std::size_t readLength = std::size_t{count} * m_inputReportLength;
    // The count is judged against InputBufferCount(), the figure callers size their reads by:
    // a driver that reports no count would otherwise refuse every read.
    if (!buffer || bufferLength < readLength || count > InputBufferCount())
        return HidBadBufferSize;
    std::memset(buffer, 0, bufferLength);
    if (!IsDeviceOpen())
        return HidNotOpen;
    // Nothing to wait for: a read of no reports would never complete with data.
    if (readLength == 0)
        return HidBadBufferSize;

    // One platform read takes every queued report that fits: a burst costs one call.
    std::size_t transferred = 0;
    const HidStatus status =
        statusOf(m_platform.readReports(m_handle, buffer, readLength, m_readTimeout, transferred));
    if (status == HidOk)
        bytesRead = std::min(transferred, readLength);
    return status;
}

bool CHIDDevice::FlushInputQueue() {
    return m_platform.flushInput(m_handle);
}

void CHIDDevice::CancelPendingTransfer(TransferKind kind) {
    if (isValidHandle(m_handle))
        m_platform.cancel(m_handle, kind);
}

void CHIDDevice::ResetCancel(TransferKind kind) {
    if (isValidHandle(m_handle))
        m_platform.resetCancel(m_handle, kind);
}
