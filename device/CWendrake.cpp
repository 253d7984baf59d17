#include "device/CWendrake.h"

#include "device/WendrakeProtocol.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using namespace WendrakeProtocol;

// Stream reports need an id and one byte, and carry at most 64 bytes because ids above 0xC0
// are not stream ids.
constexpr std::uint16_t MinStreamReportLength = 2;
constexpr std::uint16_t MaxStreamReportLength = 1 + MaxStreamPayload;

// The receive count is 16 bits wide, so one read may not deliver more than this.
constexpr std::uint32_t MaxBytesPerRead = 0xFFFF;

bool streamLengthUsable(std::uint16_t length) {
    return length >= MinStreamReportLength && length <= MaxStreamReportLength;
}

} // namespace

CWendrake::CWendrake(HidPlatform& platform) : m_device(platform) {}

CWendrake::~CWendrake() {
    // No handshake and no UART disable here: the owner disconnects properly before.
    if (m_device.IsDeviceOpen())
        m_device.CloseDevice();
}

void CWendrake::ReleaseBuffers() {
    m_featureBuffer.reset();
    m_outputBuffer.reset();
    m_readBuffer.reset();
    m_featureReportLength = 0;
    m_inputReportLength = 0;
    m_outputReportLength = 0;
    m_readReportCount = 0;
}

WendrakeStatus CWendrake::Connect(unsigned adapterIndex) {
    if (m_device.IsDeviceOpen())
        return WendrakeAlreadyConnected;

    // A stop left over from the previous connection must not end this one's transfers.
    m_readStopped = false;
    m_writeStopped = false;

    if (m_device.OpenDevice(adapterIndex, WendrakeVendorId, WendrakeProductId,
                            m_device.InputBufferCount()) != HidOk)
        return WendrakeOpenFailed;

    m_device.ResetCancel(TransferKind::Read);
    m_device.ResetCancel(TransferKind::Write);
    m_uartEnabled = false;

    m_featureReportLength = m_device.FeatureReportLength();
    m_inputReportLength = m_device.InputReportLength();
    m_outputReportLength = m_device.OutputReportLength();

    // Judged before the handshake, so that nothing at all is sent to a device whose reports
    // cannot carry our commands or stream (a short feature buffer would be overrun, a short
    // stream report carries no byte, a long one would need ids beyond 0xC0).
    if (m_featureReportLength < LongestFeatureLength || !streamLengthUsable(m_inputReportLength) ||
        !streamLengthUsable(m_outputReportLength)) {
        m_device.CloseDevice();
        ReleaseBuffers();
        return WendrakeUnsupportedDevice;
    }

    const std::uint32_t perReport = m_inputReportLength - 1u;
    m_readReportCount = static_cast<std::uint16_t>(
        std::min<std::uint32_t>(m_device.InputBufferCount(), MaxBytesPerRead / perReport));

    const std::size_t readLength = std::size_t{m_readReportCount} * m_inputReportLength;
    m_featureBuffer.reset(new (std::nothrow) std::uint8_t[m_featureReportLength]);
    m_outputBuffer.reset(new (std::nothrow) std::uint8_t[m_outputReportLength]);
    m_readBuffer.reset(new (std::nothrow) std::uint8_t[readLength]);
    if (!m_featureBuffer || !m_outputBuffer || !m_readBuffer) {
        ReleaseBuffers();
        return WendrakeCommandFailed;
    }
    std::memset(m_featureBuffer.get(), 0, m_featureReportLength);
    std::memset(m_outputBuffer.get(), 0, m_outputReportLength);
    std::memset(m_readBuffer.get(), 0, readLength);

    std::uint8_t modeState = 0;
    if (SetMode(RequestHostMode) != WendrakeOk || GetMode(&modeState) != WendrakeOk)
        return WendrakeCommandFailed;

    switch (modeState) {
    case ModeIdle: {
        const WendrakeStatus status = ConfirmMode();
        if (status == WendrakeModeRefused) {
            m_device.CloseDevice();
            ReleaseBuffers();
        }
        return status;
    }
    case ModeConnected:
        if (SetMode(HandBackMode) != WendrakeOk)
            return WendrakeCommandFailed;
        m_device.CloseDevice();
        ReleaseBuffers();
        return WendrakeModeRefused;
    default:
        return WendrakeCommandFailed;
    }
}

WendrakeStatus CWendrake::ConfirmMode() {
    if (SetFeatureByte(ConfirmModeReport, ConfirmModeValue) != WendrakeOk)
        return WendrakeCommandFailed;

    std::uint8_t modeState = 0;
    if (GetMode(&modeState) != WendrakeOk)
        return WendrakeCommandFailed;

    switch (modeState) {
    case ModeConnected:
        return WendrakeOk;
    case ModeIdle:
        return SetMode(HandBackMode) == WendrakeOk ? WendrakeModeRefused : WendrakeCommandFailed;
    default:
        return WendrakeCommandFailed;
    }
}

WendrakeStatus CWendrake::Disconnect() {
    if (!m_device.IsDeviceOpen())
        return WendrakeNotConnected;

    WendrakeStatus status = WendrakeCommandFailed;
    std::uint8_t modeState = 0;
    if (SetMode(RequestHostMode) == WendrakeOk && GetMode(&modeState) == WendrakeOk) {
        if (modeState == ModeIdle)
            status = WendrakeOk;
        else if (modeState == ModeConnected && SetMode(HandBackMode) == WendrakeOk)
            status = WendrakeModeRefused;
    }

    m_device.CloseDevice();
    m_uartEnabled = false;
    ReleaseBuffers();
    return status;
}

bool CWendrake::IsConnected() {
    return m_device.IsDeviceOpen();
}

unsigned CWendrake::GetDeviceCount() {
    return m_device.CountDevices(WendrakeVendorId, WendrakeProductId);
}

HidStatus CWendrake::GetSerialString(unsigned adapterIndex, std::string& serial) {
    std::uint8_t text[CHIDDevice::SerialBufferBytes / sizeof(char16_t)] = {};
    const HidStatus status = m_device.ReadSerialString(adapterIndex, WendrakeVendorId,
                                                       WendrakeProductId, text, sizeof(text));
    if (status == HidOk) {
        // At most 255 characters: the last of the 256 bytes is always the terminator.
        const auto* end = std::find(text, text + sizeof(text) - 1, 0);
        serial.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text));
    }
    return status;
}

// Set commands clear the whole feature buffer and fill in their arguments before this, so the
// bytes after the arguments are 0.
WendrakeStatus CWendrake::SetFeature(std::uint8_t reportId, std::size_t length) {
    if (!m_featureBuffer || length > m_featureReportLength)
        return WendrakeCommandFailed;
    m_featureBuffer[0] = reportId;
    return m_device.WriteFeatureReport(m_featureBuffer.get(), length) == HidOk
               ? WendrakeOk
               : WendrakeCommandFailed;
}

WendrakeStatus CWendrake::GetFeature(std::uint8_t reportId, std::size_t length) {
    if (!m_featureBuffer || length > m_featureReportLength)
        return WendrakeCommandFailed;
    ClearedFeatureBuffer();
    m_featureBuffer[0] = reportId;
    return m_device.ReadFeatureReport(m_featureBuffer.get(), length) == HidOk
               ? WendrakeOk
               : WendrakeCommandFailed;
}

std::uint8_t* CWendrake::ClearedFeatureBuffer() {
    if (!m_featureBuffer)
        return nullptr;
    std::memset(m_featureBuffer.get(), 0, m_featureReportLength);
    return m_featureBuffer.get();
}

WendrakeStatus CWendrake::SetFeatureByte(std::uint8_t reportId, std::uint8_t value) {
    std::uint8_t* b = ClearedFeatureBuffer();
    if (!b)
        return WendrakeCommandFailed;
    b[1] = value;
    return SetFeature(reportId, ByteReportLength);
}

WendrakeStatus CWendrake::GetFeatureByte(std::uint8_t reportId, std::uint8_t* out) {
    if (!out)
        return WendrakeInvalidParameter;
    if (GetFeature(reportId, ByteReportLength) != WendrakeOk)
        return WendrakeCommandFailed;
    *out = m_featureBuffer[1];
    return WendrakeOk;
}

WendrakeStatus CWendrake::SetMode(std::uint8_t mode) {
    if (mode != 1 && mode != 2)
        return WendrakeInvalidParameter;
    return SetFeatureByte(SetModeReport, mode);
}

WendrakeStatus CWendrake::GetMode(std::uint8_t* mode) {
    return GetFeatureByte(GetModeReport, mode);
}

WendrakeStatus CWendrake::GetDeviceVersionMajor(std::uint8_t* major) {
    return GetFeatureByte(VersionMajorReport, major);
}

WendrakeStatus CWendrake::GetDeviceVersionMinor(std::uint8_t* minor) {
    return GetFeatureByte(VersionMinorReport, minor);
}

// Only a change goes to the adapter; the state follows what it accepted.
WendrakeStatus CWendrake::SetUartEnabled(bool enabled) {
    if (m_uartEnabled == enabled)
        return WendrakeOk;
    if (SetFeatureByte(UartEnableReport, enabled ? UartOn : UartOff) != WendrakeOk)
        return WendrakeCommandFailed;
    m_uartEnabled = enabled;
    return WendrakeOk;
}

WendrakeStatus CWendrake::EnableUart() {
    return SetUartEnabled(true);
}

WendrakeStatus CWendrake::DisableUart() {
    return SetUartEnabled(false);
}

template <class Record>
WendrakeStatus CWendrake::GetRecord(std::uint8_t reportId, std::size_t length, Record* out,
                                    Record (*take)(const std::uint8_t*)) {
    if (!out)
        return WendrakeInvalidParameter;
    if (GetFeature(reportId, length) != WendrakeOk)
        return WendrakeCommandFailed;
    *out = take(m_featureBuffer.get());
    return WendrakeOk;
}

template <class Record>
WendrakeStatus CWendrake::SetRecord(std::uint8_t reportId, std::size_t length, const Record* record,
                                    void (*put)(const Record&, std::uint8_t*)) {
    if (!record)
        return WendrakeInvalidParameter;
    std::uint8_t* b = ClearedFeatureBuffer();
    if (!b)
        return WendrakeCommandFailed;
    put(*record, b);
    return SetFeature(reportId, length);
}

WendrakeStatus CWendrake::GetUartConfig(UartConfig* config) {
    return GetRecord(UartConfigReport, UartConfigReportLength, config, &TakeUartConfig);
}

WendrakeStatus CWendrake::SetUartConfig(const UartConfig* config) {
    return SetRecord(UartConfigReport, UartConfigReportLength, config, &PutUartConfig);
}

WendrakeStatus CWendrake::GetFifoStatus(FifoStatus* status) {
    return GetRecord(FifoStatusReport, FifoStatusReportLength, status, &TakeFifoStatus);
}

WendrakeStatus CWendrake::PurgeFifo(bool first, bool second) {
    if (!first && !second)
        return WendrakeOk;
    const PurgeSelector which =
        first && second ? PurgeBoth : (first ? PurgeTransmit : PurgeReceive);
    return SetFeatureByte(PurgeFifoReport, which);
}

WendrakeStatus CWendrake::FlushReceiveReports() {
    return m_device.FlushInputQueue() ? WendrakeOk : WendrakeCommandFailed;
}

WendrakeStatus CWendrake::GetPinConfig(PinConfig* config) {
    return GetRecord(PinConfigReport, PinConfigReportLength, config, &TakePinConfig);
}

WendrakeStatus CWendrake::SetPinConfig(const PinConfig* config) {
    return SetRecord(PinConfigReport, PinConfigReportLength, config, &PutPinConfig);
}

WendrakeStatus CWendrake::GetPinLatch(std::uint8_t* latch) {
    return GetFeatureByte(GetPinLatchReport, latch);
}

WendrakeStatus CWendrake::SetPinLatch(std::uint8_t values, std::uint8_t mask) {
    std::uint8_t* b = ClearedFeatureBuffer();
    if (!b)
        return WendrakeCommandFailed;
    b[1] = values;
    b[2] = mask;
    return SetFeature(SetPinLatchReport, SetPinLatchReportLength);
}

std::uint32_t CWendrake::GetReceiveBufferSize() {
    // While connected this is what one ReadUart can deliver; otherwise the device's own figures
    // (0 when closed, as its input report length is 0 then).
    if (m_readBuffer)
        return std::uint32_t{m_readReportCount} * (m_inputReportLength - 1u);
    const std::uint16_t length = m_device.InputReportLength();
    if (length < MinStreamReportLength)
        return 0;
    return std::uint32_t{m_device.InputBufferCount()} * (length - 1u);
}

WendrakeStatus CWendrake::WriteUart(const std::uint8_t* data, std::uint32_t count,
                                    std::atomic<std::uint32_t>* progress,
                                    std::uint32_t reportTimeoutMs) {
    if (!m_device.IsDeviceOpen())
        return WendrakeNotConnected;
    if (count == 0)
        return WendrakeOk;
    if (!data || !m_outputBuffer)
        return WendrakeCommandFailed;

    const std::size_t length = m_outputReportLength;
    const std::uint32_t chunk = m_outputReportLength - 1u;
    std::uint32_t consumed = 0;
    while (consumed < count) {
        if (m_writeStopped)
            return WendrakeCommandFailed;

        const std::uint32_t n = std::min(chunk, count - consumed);
        std::memset(m_outputBuffer.get(), 0, length);
        std::memcpy(m_outputBuffer.get() + 1, data + consumed, n);
        m_outputBuffer[0] = static_cast<std::uint8_t>(StreamIdBase + n);

        if (m_device.WriteInterruptReport(m_outputBuffer.get(), length, reportTimeoutMs) != HidOk)
            return WendrakeCommandFailed;
        // A stop completes the pending report without sending it, so it is not counted.
        if (m_writeStopped)
            return WendrakeCommandFailed;
        if (progress)
            progress->fetch_add(n);
        consumed += n;
    }
    return WendrakeOk;
}

WendrakeStatus CWendrake::ReadUart(std::uint8_t* destination, std::uint32_t capacity,
                                   std::uint16_t* countOut) {
    if (!m_device.IsDeviceOpen())
        return WendrakeNotConnected;
    if (!destination || !countOut)
        return WendrakeBadBuffer;
    if (!m_readBuffer)
        return WendrakeCommandFailed;

    const std::size_t length = m_inputReportLength;
    const std::size_t reports = m_readReportCount;
    if (capacity < reports * (length - 1))
        return WendrakeBadBuffer;
    if (m_readStopped)
        return WendrakeCommandFailed;

    // The device layer clears the buffer itself before every read.
    const std::size_t readLength = reports * length;
    std::size_t bytesRead = 0;
    if (m_device.ReadInterruptReports(m_readBuffer.get(), readLength,
                                      static_cast<unsigned>(reports), bytesRead) != HidOk)
        return WendrakeCommandFailed;
    // Whatever a read that raced the stop brought is dropped: nobody appends after a stop.
    if (m_readStopped)
        return WendrakeCommandFailed;

    std::size_t written = 0;
    for (std::size_t p = 0; p < bytesRead; p += length) {
        const std::uint8_t id = m_readBuffer[p];
        if (id < FirstStreamId || id > LastStreamId)
            continue;
        // An id may claim more bytes than its report holds (a report shorter than 65 bytes);
        // only the bytes inside the report are taken, and only those are counted.
        const std::size_t n = std::min<std::size_t>(id - StreamIdBase, length - 1);
        const std::size_t available = std::min(n, bytesRead - p - 1);
        std::memcpy(destination + written, m_readBuffer.get() + p + 1, available);
        written += available;
    }
    *countOut = static_cast<std::uint16_t>(written);
    return WendrakeOk;
}

void CWendrake::StopReadUart() {
    // Flag first, then the sticky cancel: a read that checked the flag just before still wakes.
    m_readStopped = true;
    m_device.CancelPendingTransfer(TransferKind::Read);
}

void CWendrake::ResumeReadUart() {
    m_device.ResetCancel(TransferKind::Read);
    m_readStopped = false;
}

void CWendrake::StopWriteUart() {
    m_writeStopped = true;
    m_device.CancelPendingTransfer(TransferKind::Write);
}

void CWendrake::ResumeWriteUart() {
    m_device.ResetCancel(TransferKind::Write);
    m_writeStopped = false;
}
