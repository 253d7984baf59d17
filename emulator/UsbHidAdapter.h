#pragma once

#include "emulator/UsbipHeader.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

class AdapterFirmware;

// The adapter as a full-speed USB HID device behind a USB/IP connection: it answers the control
// requests on endpoint 0 (descriptors, string descriptors with the serial number, SET_IDLE and
// the HID GET_REPORT / SET_REPORT of feature reports), takes output reports on interrupt OUT 1
// and hands input reports out on interrupt IN 1 (64-byte packets, 1 ms). Bytes in and out are
// whole USB/IP messages; no socket is touched here. Without a firmware it is a HID device that
// is not an adapter (no output, no features). Not thread-safe.
class UsbHidAdapter {
public:
    struct Identity {
        std::uint16_t VendorId = 0;
        std::uint16_t ProductId = 0;
        std::string Product;
        std::string Serial;
        std::vector<std::uint8_t> ReportDescriptor;
    };

    static constexpr std::uint8_t InEndpoint = 0x81;
    static constexpr std::uint8_t OutEndpoint = 0x01;
    static constexpr std::uint16_t MaxPacketSize = 64;
    static constexpr std::uint8_t PollIntervalMs = 1;
    // Status words of the answers, as the kernel's URB statuses.
    static constexpr std::int32_t StatusOk = 0;
    static constexpr std::int32_t StatusStall = -32;     // -EPIPE
    static constexpr std::int32_t StatusUnlinked = -104; // -ECONNRESET
    // A CMD_SUBMIT carrying more than this is taken for a broken stream.
    static constexpr std::size_t MaxTransferLength = 1 << 20;

    // firmware null: the other device. The firmware must outlive this object.
    UsbHidAdapter(AdapterFirmware* firmware, Identity identity);

    // Descriptors as answered to GET_DESCRIPTOR.
    std::vector<std::uint8_t> DeviceDescriptor() const;
    std::vector<std::uint8_t> ConfigurationDescriptor() const;
    // Index 0 is the language list (US English); 1 manufacturer, 2 product, 3 serial number.
    std::optional<std::vector<std::uint8_t>> StringDescriptor(std::uint8_t index) const;
    std::vector<std::uint8_t> HidDescriptor() const;

    // Takes bytes from the socket; whole messages are carried out at once, a partial one waits
    // for the rest. False once the stream is broken (a header that is not a command, an answer
    // sent to the device, an absurd length); everything after that is ignored.
    bool Feed(const std::uint8_t* data, std::size_t length);
    // Moves waiting input reports into waiting IN transfers (after the firmware produced input).
    void Service();
    // Bytes to send back to the kernel, in order; the buffer is emptied.
    std::vector<std::uint8_t> TakeOutput();

    // While on, OUT transfers are kept unanswered, the way a device whose UART is held back by
    // flow control NAKs its OUT endpoint; turning it off takes them in order.
    void SetHoldOutput(bool hold);
    bool HoldOutput() const { return m_holdOutput; }
    // The next count requests for this feature id are stalled / never answered.
    void FailFeature(std::uint8_t reportId, unsigned count);
    void MuteFeature(std::uint8_t reportId, unsigned count);
    // One input report of exactly these bytes (not padded), after the waiting ones.
    void QueueInputReport(std::vector<std::uint8_t> report);

    // Every input report waiting here went to the kernel and it asked for the next: what was
    // injected is in the host's queue.
    bool InputDelivered() const { return m_inQueue.empty() && !m_inTransfers.empty(); }
    // Input reports waiting here for the host to ask.
    std::size_t QueuedInputReports() const { return m_inQueue.size(); }
    bool Broken() const { return m_broken; }
    std::size_t HeldOutTransfers() const { return m_heldOut.size(); }
    std::size_t PendingInTransfers() const { return m_inTransfers.size(); }
    std::uint64_t OutputReportsTaken() const { return m_outputReportsTaken; }
    std::uint64_t InputReportsSent() const { return m_inputReportsSent; }
    std::uint64_t Unlinks() const { return m_unlinks; }
    std::uint8_t Configuration() const { return m_configuration; }

private:
    struct Transfer {
        UsbipHeader header;
        std::vector<std::uint8_t> data; // OUT data
    };
    // What a control request answers: a status and the IN data, or nothing yet (muted).
    struct ControlAnswer {
        std::int32_t status = StatusOk;
        std::vector<std::uint8_t> data;
    };

    void dispatch(const UsbipHeader& header, std::vector<std::uint8_t> data);
    std::optional<ControlAnswer> control(const UsbipHeader& header,
                                         const std::vector<std::uint8_t>& data);
    std::optional<ControlAnswer> standardRequest(std::uint8_t requestType, std::uint8_t request,
                                                 std::uint16_t value, std::uint16_t index) const;
    std::optional<ControlAnswer> classRequest(std::uint8_t requestType, std::uint8_t request,
                                              std::uint16_t value,
                                              const std::vector<std::uint8_t>& data);
    void takeOutput(const Transfer& transfer);
    void answer(const UsbipHeader& submit, std::int32_t status, const std::uint8_t* data,
                std::size_t length);
    void unlink(const UsbipHeader& header);
    void releaseHeldOutput();

    AdapterFirmware* m_firmware;
    Identity m_identity;
    std::vector<std::uint8_t> m_rx;
    std::vector<std::uint8_t> m_tx;
    bool m_broken = false;
    bool m_holdOutput = false;
    std::uint8_t m_configuration = 0;
    std::deque<UsbipHeader> m_inTransfers;
    std::deque<Transfer> m_heldOut;
    std::deque<UsbipHeader> m_mutedControl;
    std::deque<std::vector<std::uint8_t>> m_inQueue;
    std::map<std::uint8_t, unsigned> m_failures;
    std::map<std::uint8_t, unsigned> m_mutes;
    std::uint64_t m_outputReportsTaken = 0;
    std::uint64_t m_inputReportsSent = 0;
    std::uint64_t m_unlinks = 0;
};
