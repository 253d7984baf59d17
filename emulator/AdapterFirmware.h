#pragma once

#include "device/WendrakeProtocol.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string_view>
#include <vector>

// The adapter's firmware as the host sees it through its reports: feature commands 0x40-0x4B,
// UART chunks 0x81-0xC0 in both directions, mode handshake state, pins and FIFO counts.
// Standard library only, so that a stand-alone kernel-level (uhid) program can reuse it.
// Thread-safe: every member locks the firmware's own mutex.
class AdapterFirmware {
public:
    // Report byte lengths, report id included, as the report descriptor declares them.
    static constexpr std::size_t InputReportLength = 1 + WendrakeProtocol::MaxStreamPayload;
    static constexpr std::size_t OutputReportLength = InputReportLength;
    static constexpr std::size_t FeatureReportLength = WendrakeProtocol::LongestFeatureLength;
    // UART bytes one stream report carries at most.
    static constexpr std::size_t MaxChunkBytes = WendrakeProtocol::MaxStreamPayload;
    // Stream report ids are this base plus the number of bytes carried.
    static constexpr std::uint8_t UartReportBase = WendrakeProtocol::StreamIdBase;

    // Feature report ids of the command set.
    using ReportId = WendrakeProtocol::ReportId;
    using enum WendrakeProtocol::ReportId;

    // The values the command set carries: mode requests and states, UART on and off, purges.
    using enum WendrakeProtocol::ModeRequest;
    using enum WendrakeProtocol::ModeState;
    using enum WendrakeProtocol::UartEnableValue;
    using enum WendrakeProtocol::PurgeSelector;

    // The UART and pin configurations as the firmware keeps them (payloads of 0x46 and 0x49).
    using UartSettings = UartConfig;
    using PinSettings = PinConfig;

    // A first-in first-out queue of fixed InputReportLength-byte report slots in one growable
    // ring: no allocation per report once it has grown to its working size. Not locked.
    class ReportQueue {
    public:
        explicit ReportQueue(std::size_t initialCapacity = 64);
        std::size_t size() const { return m_count; }
        bool empty() const { return m_count == 0; }
        // Appends a report: copies up to InputReportLength bytes and zero-pads the slot.
        void push(const std::uint8_t* report, std::size_t length);
        // The oldest report, InputReportLength bytes; only when not empty.
        const std::uint8_t* front() const;
        void pop();
        void clear();

    private:
        void grow();
        std::vector<std::uint8_t> m_storage;
        std::size_t m_capacity = 0;
        std::size_t m_head = 0;
        std::size_t m_count = 0;
    };

    // The HID report descriptor: vendor page 0xFF00, features 0x40-0x4B at their command lengths,
    // input and output 0x81-0xC0 of 64 bytes each (input 65, output 65, feature 9 with the id).
    static std::vector<std::uint8_t> ReportDescriptor();
    // Exact length (id included) of a feature report of the command set, 0 for other ids.
    static std::size_t FeatureLength(std::uint8_t reportId);
    // Whether the command set answers a get (or accepts a set) of this feature id.
    static bool IsGettable(std::uint8_t reportId);
    static bool IsSettable(std::uint8_t reportId);

    AdapterFirmware();

    AdapterFirmware(const AdapterFirmware&) = delete;
    AdapterFirmware& operator=(const AdapterFirmware&) = delete;

    // ---- Host side (what the HID transport calls) ----

    // Answers a get feature report: buffer[0] is the id, length must be the command's length.
    // Fills bytes 1.. of the buffer; false (a stalled request) for unknown ids or wrong lengths.
    bool GetFeature(std::uint8_t* buffer, std::size_t length);
    // Carries out a set feature report; false for unknown ids, wrong lengths or invalid values.
    bool SetFeature(const std::uint8_t* buffer, std::size_t length);
    // Takes one output report (id 0x80+n, n bytes): out of the UART, or back as input in loopback.
    // Malformed reports (id outside 0x81-0xC0, n beyond the report) are ignored and counted.
    // Returns the number of input reports it produced (for loopback).
    std::size_t WriteOutputReport(const std::uint8_t* data, std::size_t length);
    // Input reports waiting to go to the host.
    std::size_t PendingInputReports() const;
    // Moves the oldest waiting input report into slot (slotLength bytes, zero-padded or cut).
    bool TakeInputReport(std::uint8_t* slot, std::size_t slotLength);
    // Pulls at most maxReports reports' worth of bytes from the byte source, if one is set.
    // Returns the number of input reports produced.
    std::size_t PullFromSource(std::size_t maxReports);
    // Drops the waiting input reports.
    void DiscardPendingInput();
    // Back to the power-on state of the volatile parts: mode idle, UART disabled, no pending input.
    void PowerCycle();

    // ---- Test side ----

    // Bytes the adapter receives on its UART; they become input reports of up to 64 bytes.
    void InjectUartInput(const std::uint8_t* data, std::size_t count);
    void InjectUartInput(std::string_view bytes);
    // A paced byte source: called with (destination, capacity<=64) whenever the host queue has
    // room; returns how many bytes it wrote (0 = nothing now). Called under the platform's and
    // the firmware's locks: it must not call back into either.
    void SetUartSource(std::function<std::size_t(std::uint8_t*, std::size_t)> source);
    // Called (without any lock held) after InjectUartInput, so the host side can collect the
    // reports. The emulated platform installs this; it must not be called from inside the
    // host-side members.
    void SetInputListener(std::function<void()> listener);

    // Loopback: output report bytes come back as input reports.
    void SetLoopback(bool on);
    bool Loopback() const;

    // Answers for the next GetMode requests, in order; once used up the default machine answers.
    void QueueModeAnswers(std::initializer_list<std::uint8_t> answers);
    void QueueModeAnswer(std::uint8_t answer);
    void ClearModeAnswers();
    // The default machine's state: SetMode(2) -> idle (0), ConfirmMode in idle -> connected (1),
    // SetMode(1) -> connected (1).
    std::uint8_t ModeState() const;
    void SetModeState(std::uint8_t state);

    // Device version answered by 0x43 and 0x44 (default 1.3).
    void SetVersion(std::uint8_t major, std::uint8_t minor);

    UartSettings Uart() const;
    void SetUart(const UartSettings& settings);
    PinSettings Pins() const;
    void SetPins(const PinSettings& settings);
    // UART enable flag as last set by 0x45 (false at power-on).
    bool UartEnabled() const;
    void SetUartEnabled(bool on);

    // The output latch written by 0x4B (default 0x07: GPIO0, GPIO1 and Q3 Reset high).
    std::uint8_t Latch() const;
    void SetLatch(std::uint8_t latch);
    // Lines driven from outside: bits set in mask read back as the bits of levels, whatever the
    // latch says (e.g. SetInputLevels(0x08, 0x08) makes Suspend read high).
    void SetInputLevels(std::uint8_t levels, std::uint8_t mask);
    // The levels answered by 0x4A: driven lines from the input levels, the rest from the latch.
    std::uint8_t PinLevels() const;

    // FIFO fill levels answered by 0x47 (big-endian on the wire).
    void SetFifoCounts(std::uint16_t tx, std::uint16_t rx);
    std::uint16_t TxFifoCount() const;
    std::uint16_t RxFifoCount() const;
    // Purge codes received by 0x48, in order. Code 0 clears TX, 1 clears RX (and the input not
    // yet sent to the host), 2 both.
    std::vector<std::uint8_t> PurgeCodes() const;

    // Bytes that went out of the UART (loopback off), in order, while recording is on (default).
    std::vector<std::uint8_t> UartOutput() const;
    void ClearUartOutput();
    // Keeping the output bytes costs memory on long runs; counting goes on regardless.
    void SetRecordUartOutput(bool on);
    // Totals since construction: bytes taken from output reports, bytes turned into input reports.
    std::uint64_t UartBytesOut() const;
    std::uint64_t UartBytesIn() const;
    // Output reports ignored as malformed.
    std::size_t IgnoredOutputReports() const;

private:
    void queueInputLocked(const std::uint8_t* data, std::size_t count);

    mutable std::mutex m_mutex;
    ReportQueue m_pendingInput;
    std::function<std::size_t(std::uint8_t*, std::size_t)> m_source;
    std::function<void()> m_inputListener;
    bool m_loopback = false;
    std::deque<std::uint8_t> m_modeAnswers;
    std::uint8_t m_modeState = ModeIdle;
    std::uint8_t m_versionMajor = 1;
    std::uint8_t m_versionMinor = 3;
    UartSettings m_uart;
    PinSettings m_pins;
    bool m_uartEnabled = false;
    std::uint8_t m_latch = 0x07;
    std::uint8_t m_inputLevels = 0;
    std::uint8_t m_inputMask = 0;
    std::uint16_t m_txFifo = 0;
    std::uint16_t m_rxFifo = 0;
    std::vector<std::uint8_t> m_purgeCodes;
    std::vector<std::uint8_t> m_uartOutput;
    bool m_recordUartOutput = true;
    std::uint64_t m_bytesOut = 0;
    std::uint64_t m_bytesIn = 0;
    std::size_t m_ignoredOutput = 0;
};
