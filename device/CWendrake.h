#pragma once

#include "device/CHIDDevice.h"
#include "device/WendrakeTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// The adapter as the rest of the program sees it: the command set in feature reports 0x40-0x4B,
// the connect and disconnect handshakes, and the UART stream in interrupt reports 0x81-0xC0.
class CWendrake {
public:
    explicit CWendrake(HidPlatform& platform);
    virtual ~CWendrake();

    CWendrake(const CWendrake&) = delete;
    CWendrake& operator=(const CWendrake&) = delete;

    WendrakeStatus Connect(unsigned adapterIndex);
    WendrakeStatus Disconnect();
    bool IsConnected();
    unsigned GetDeviceCount();
    // HidOk or HidNoDevice; on HidOk the string becomes the serial text (Latin-1 bytes).
    HidStatus GetSerialString(unsigned adapterIndex, std::string& serial);

    WendrakeStatus SetMode(std::uint8_t mode);
    WendrakeStatus ConfirmMode();
    WendrakeStatus GetMode(std::uint8_t* mode);
    WendrakeStatus GetDeviceVersionMajor(std::uint8_t* major);
    WendrakeStatus GetDeviceVersionMinor(std::uint8_t* minor);
    WendrakeStatus EnableUart();
    WendrakeStatus DisableUart();
    WendrakeStatus GetUartConfig(UartConfig* config);
    WendrakeStatus SetUartConfig(const UartConfig* config);
    WendrakeStatus GetFifoStatus(FifoStatus* status);
    WendrakeStatus PurgeFifo(bool first, bool second);
    WendrakeStatus FlushReceiveReports();
    WendrakeStatus GetPinConfig(PinConfig* config);
    WendrakeStatus SetPinConfig(const PinConfig* config);
    WendrakeStatus GetPinLatch(std::uint8_t* latch);
    WendrakeStatus SetPinLatch(std::uint8_t values, std::uint8_t mask);
    std::uint32_t GetReceiveBufferSize();

    // UART stream. WriteUart blocks until every report is accepted or one fails; the optional
    // reportTimeoutMs bounds the wait for each report (typed sends), infinite by default.
    WendrakeStatus WriteUart(const std::uint8_t* data, std::uint32_t count,
                             std::atomic<std::uint32_t>* progress = nullptr,
                             std::uint32_t reportTimeoutMs = HidInfiniteTimeout);
    WendrakeStatus ReadUart(std::uint8_t* destination, std::uint32_t capacity,
                            std::uint16_t* countOut);

    // Stopping the stream from another thread: StopReadUart makes a ReadUart blocked now, and
    // every later one, return WendrakeCommandFailed at once; StopWriteUart makes a running
    // WriteUart stop before its next report (and wakes a pending report write). Both hold until
    // the matching Resume or the next Connect, so the object stays usable.
    void StopReadUart();
    void ResumeReadUart();
    void StopWriteUart();
    void ResumeWriteUart();

    CHIDDevice& Device() { return m_device; }

private:
    WendrakeStatus SetFeature(std::uint8_t reportId, std::size_t length);
    WendrakeStatus GetFeature(std::uint8_t reportId, std::size_t length);
    // Every command starts from a feature buffer cleared over its full length (nullptr when
    // not connected).
    std::uint8_t* ClearedFeatureBuffer();
    WendrakeStatus SetFeatureByte(std::uint8_t reportId, std::uint8_t value);
    WendrakeStatus GetFeatureByte(std::uint8_t reportId, std::uint8_t* out);
    // The configuration records: a get takes the record from the answer, a set puts it into a
    // cleared report.
    template <class Record>
    WendrakeStatus GetRecord(std::uint8_t reportId, std::size_t length, Record* out,
                             Record (*take)(const std::uint8_t*));
    template <class Record>
    WendrakeStatus SetRecord(std::uint8_t reportId, std::size_t length, const Record* record,
                             void (*put)(const Record&, std::uint8_t*));
    WendrakeStatus SetUartEnabled(bool enabled);
    void ReleaseBuffers();

    CHIDDevice m_device;
    bool m_uartEnabled = false;
    std::unique_ptr<std::uint8_t[]> m_featureBuffer;
    std::unique_ptr<std::uint8_t[]> m_outputBuffer;
    std::unique_ptr<std::uint8_t[]> m_readBuffer;
    std::uint16_t m_featureReportLength = 0;
    std::uint16_t m_inputReportLength = 0;
    std::uint16_t m_outputReportLength = 0;
    std::uint16_t m_readReportCount = 0;
    std::atomic<bool> m_readStopped{false};
    std::atomic<bool> m_writeStopped{false};
};
