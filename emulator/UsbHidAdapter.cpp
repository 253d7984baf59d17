#include "emulator/UsbHidAdapter.h"

#include "emulator/AdapterFirmware.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint8_t DescriptorDevice = 1;
constexpr std::uint8_t DescriptorConfiguration = 2;
constexpr std::uint8_t DescriptorString = 3;
constexpr std::uint8_t DescriptorInterface = 4;
constexpr std::uint8_t DescriptorEndpoint = 5;
constexpr std::uint8_t DescriptorHid = 0x21;
constexpr std::uint8_t DescriptorReport = 0x22;

constexpr std::uint8_t RequestGetStatus = 0;
constexpr std::uint8_t RequestClearFeature = 1;
constexpr std::uint8_t RequestSetAddress = 5;
constexpr std::uint8_t RequestGetDescriptor = 6;
constexpr std::uint8_t RequestGetConfiguration = 8;
constexpr std::uint8_t RequestSetConfiguration = 9;
constexpr std::uint8_t RequestGetInterface = 10;
constexpr std::uint8_t RequestSetInterface = 11;

constexpr std::uint8_t HidGetReport = 0x01;
constexpr std::uint8_t HidGetIdle = 0x02;
constexpr std::uint8_t HidGetProtocol = 0x03;
constexpr std::uint8_t HidSetReport = 0x09;
constexpr std::uint8_t HidSetIdle = 0x0A;
constexpr std::uint8_t HidSetProtocol = 0x0B;

constexpr std::uint8_t ReportTypeInput = 1;
constexpr std::uint8_t ReportTypeOutput = 2;
constexpr std::uint8_t ReportTypeFeature = 3;

constexpr std::uint8_t TypeMask = 0x60;
constexpr std::uint8_t TypeStandard = 0x00;
constexpr std::uint8_t TypeClass = 0x20;
constexpr std::uint8_t DirectionIn = 0x80;

constexpr const char* Manufacturer = "Wendrake";

std::uint8_t low(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t high(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}

std::vector<std::uint8_t> stringDescriptor(const std::string& text) {
    // Latin-1 to UTF-16LE; a descriptor holds at most 126 characters.
    const std::size_t n = std::min<std::size_t>(text.size(), 126);
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * n), DescriptorString};
    for (std::size_t i = 0; i < n; ++i) {
        d.push_back(static_cast<std::uint8_t>(text[i]));
        d.push_back(0);
    }
    return d;
}

} // namespace

UsbHidAdapter::UsbHidAdapter(AdapterFirmware* firmware, Identity identity)
    : m_firmware(firmware), m_identity(std::move(identity)) {}

std::vector<std::uint8_t> UsbHidAdapter::DeviceDescriptor() const {
    return {18,
            DescriptorDevice,
            0x10,
            0x01, // USB 1.1: a full-speed device, no qualifier to ask for
            0,
            0,
            0, // class, subclass and protocol per interface
            MaxPacketSize,
            low(m_identity.VendorId),
            high(m_identity.VendorId),
            low(m_identity.ProductId),
            high(m_identity.ProductId),
            0x03,
            0x01, // device release 1.03, as the firmware's version
            1,
            2,
            3, // manufacturer, product, serial number strings
            1};
}

std::vector<std::uint8_t> UsbHidAdapter::HidDescriptor() const {
    const auto size = static_cast<std::uint16_t>(m_identity.ReportDescriptor.size());
    return {9, DescriptorHid, 0x11, 0x01, 0, 1, DescriptorReport, low(size), high(size)};
}

std::vector<std::uint8_t> UsbHidAdapter::ConfigurationDescriptor() const {
    std::vector<std::uint8_t> d = {9,    DescriptorConfiguration, 0, 0, 1, 1, 0,
                                   0x80, // bus powered
                                   50};  // 100 mA
    const std::vector<std::uint8_t> interface = {9, DescriptorInterface, 0, 0, 2, 3, 0, 0, 0};
    d.insert(d.end(), interface.begin(), interface.end());
    const std::vector<std::uint8_t> hid = HidDescriptor();
    d.insert(d.end(), hid.begin(), hid.end());
    for (const std::uint8_t address : {InEndpoint, OutEndpoint}) {
        const std::vector<std::uint8_t> endpoint = {7,
                                                    DescriptorEndpoint,
                                                    address,
                                                    0x03,
                                                    low(MaxPacketSize),
                                                    high(MaxPacketSize),
                                                    PollIntervalMs};
        d.insert(d.end(), endpoint.begin(), endpoint.end());
    }
    d[2] = low(static_cast<std::uint16_t>(d.size()));
    d[3] = high(static_cast<std::uint16_t>(d.size()));
    return d;
}

std::optional<std::vector<std::uint8_t>> UsbHidAdapter::StringDescriptor(std::uint8_t index) const {
    switch (index) {
    case 0:
        return std::vector<std::uint8_t>{4, DescriptorString, 0x09, 0x04};
    case 1:
        return stringDescriptor(Manufacturer);
    case 2:
        return stringDescriptor(m_identity.Product);
    case 3:
        return stringDescriptor(m_identity.Serial);
    default:
        return std::nullopt;
    }
}

bool UsbHidAdapter::Feed(const std::uint8_t* data, std::size_t length) {
    if (m_broken)
        return false;
    m_rx.insert(m_rx.end(), data, data + length);
    std::size_t used = 0;
    while (m_rx.size() - used >= UsbipHeader::Size) {
        const auto header = UsbipHeader::parse(m_rx.data() + used, m_rx.size() - used);
        if (!header || (header->command != UsbipHeader::CmdSubmit &&
                        header->command != UsbipHeader::CmdUnlink)) {
            m_broken = true;
            return false;
        }
        std::size_t dataLength = 0;
        if (header->command == UsbipHeader::CmdSubmit && header->direction == UsbipHeader::DirOut) {
            if (header->transferLength() < 0 ||
                static_cast<std::size_t>(header->transferLength()) > MaxTransferLength) {
                m_broken = true;
                return false;
            }
            dataLength = static_cast<std::size_t>(header->transferLength());
        }
        if (m_rx.size() - used < UsbipHeader::Size + dataLength)
            break;
        const auto begin = m_rx.begin() + static_cast<std::ptrdiff_t>(used + UsbipHeader::Size);
        std::vector<std::uint8_t> payload(begin, begin + static_cast<std::ptrdiff_t>(dataLength));
        used += UsbipHeader::Size + dataLength;
        dispatch(*header, std::move(payload));
    }
    m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(used));
    Service();
    return true;
}

void UsbHidAdapter::dispatch(const UsbipHeader& header, std::vector<std::uint8_t> data) {
    if (header.command == UsbipHeader::CmdUnlink) {
        unlink(header);
        return;
    }
    if (header.ep == 0) {
        const std::optional<ControlAnswer> reply = control(header, data);
        if (!reply) {
            m_mutedControl.push_back(header);
            return;
        }
        const std::size_t wanted = static_cast<std::size_t>(std::max(0, header.transferLength()));
        answer(header, reply->status, reply->data.data(), std::min(reply->data.size(), wanted));
        return;
    }
    if (header.ep == (InEndpoint & 0x0F) && header.direction == UsbipHeader::DirIn) {
        m_inTransfers.push_back(header);
        return;
    }
    if (header.ep == OutEndpoint && header.direction == UsbipHeader::DirOut && m_firmware) {
        Transfer transfer{header, std::move(data)};
        if (m_holdOutput)
            m_heldOut.push_back(std::move(transfer));
        else
            takeOutput(transfer);
        return;
    }
    answer(header, StatusStall, nullptr, 0);
}

void UsbHidAdapter::takeOutput(const Transfer& transfer) {
    m_firmware->WriteOutputReport(transfer.data.data(), transfer.data.size());
    ++m_outputReportsTaken;
    // An OUT answer carries no data, only how much was taken.
    UsbipHeader h = UsbipHeader::retSubmit(transfer.header, StatusOk,
                                           static_cast<std::uint32_t>(transfer.data.size()));
    const auto bytes = h.serialize();
    m_tx.insert(m_tx.end(), bytes.begin(), bytes.end());
}

std::optional<UsbHidAdapter::ControlAnswer>
UsbHidAdapter::control(const UsbipHeader& header, const std::vector<std::uint8_t>& data) {
    const std::uint8_t requestType = header.setup[0];
    const std::uint8_t request = header.setup[1];
    const auto value = static_cast<std::uint16_t>(header.setup[2] | header.setup[3] << 8);
    const auto index = static_cast<std::uint16_t>(header.setup[4] | header.setup[5] << 8);
    if ((requestType & TypeMask) == TypeStandard) {
        if (request == RequestSetConfiguration)
            m_configuration = low(value);
        return standardRequest(requestType, request, value, index);
    }
    if ((requestType & TypeMask) == TypeClass)
        return classRequest(requestType, request, value, data);
    return ControlAnswer{StatusStall, {}};
}

std::optional<UsbHidAdapter::ControlAnswer>
UsbHidAdapter::standardRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                               std::uint16_t index) const {
    const bool in = (requestType & DirectionIn) != 0;
    const std::uint8_t recipient = requestType & 0x1F;
    if (in && request == RequestGetDescriptor) {
        const std::uint8_t type = high(value);
        if (recipient == 0 && type == DescriptorDevice)
            return ControlAnswer{StatusOk, DeviceDescriptor()};
        if (recipient == 0 && type == DescriptorConfiguration && low(value) == 0)
            return ControlAnswer{StatusOk, ConfigurationDescriptor()};
        if (recipient == 0 && type == DescriptorString) {
            if (auto s = StringDescriptor(low(value)))
                return ControlAnswer{StatusOk, *s};
        }
        if (recipient == 1 && index == 0 && type == DescriptorReport)
            return ControlAnswer{StatusOk, m_identity.ReportDescriptor};
        if (recipient == 1 && index == 0 && type == DescriptorHid)
            return ControlAnswer{StatusOk, HidDescriptor()};
        return ControlAnswer{StatusStall, {}};
    }
    if (in && request == RequestGetStatus)
        return ControlAnswer{StatusOk, {0, 0}};
    if (in && request == RequestGetConfiguration && recipient == 0)
        return ControlAnswer{StatusOk, {m_configuration}};
    if (in && request == RequestGetInterface && recipient == 1)
        return ControlAnswer{StatusOk, {0}};
    if (!in && (request == RequestSetAddress || request == RequestSetConfiguration ||
                request == RequestSetInterface || request == RequestClearFeature))
        return ControlAnswer{StatusOk, {}};
    return ControlAnswer{StatusStall, {}};
}

std::optional<UsbHidAdapter::ControlAnswer>
UsbHidAdapter::classRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                            const std::vector<std::uint8_t>& data) {
    const bool in = (requestType & DirectionIn) != 0;
    const std::uint8_t reportType = high(value);
    const std::uint8_t reportId = low(value);
    if (!in && (request == HidSetIdle || request == HidSetProtocol))
        return ControlAnswer{StatusOk, {}};
    if (in && request == HidGetIdle)
        return ControlAnswer{StatusOk, {0}};
    if (in && request == HidGetProtocol)
        return ControlAnswer{StatusOk, {1}};
    const bool report = (in && request == HidGetReport) || (!in && request == HidSetReport);
    if (!report || !m_firmware)
        return ControlAnswer{StatusStall, {}};

    if (in && reportType == ReportTypeFeature) {
        if (auto mute = m_mutes.find(reportId); mute != m_mutes.end() && mute->second > 0) {
            --mute->second;
            return std::nullopt;
        }
    }
    if (auto fail = m_failures.find(reportId); fail != m_failures.end() && fail->second > 0) {
        --fail->second;
        return ControlAnswer{StatusStall, {}};
    }
    if (in && reportType == ReportTypeFeature) {
        const std::size_t length = AdapterFirmware::FeatureLength(reportId);
        std::vector<std::uint8_t> buffer(std::max<std::size_t>(length, 1), 0);
        // The answer carries the report id first, as numbered reports do on the wire.
        buffer[0] = reportId;
        if (length == 0 || !m_firmware->GetFeature(buffer.data(), length))
            return ControlAnswer{StatusStall, {}};
        return ControlAnswer{StatusOk, buffer};
    }
    if (!in && reportType == ReportTypeFeature) {
        if (data.empty() || data[0] != reportId ||
            !m_firmware->SetFeature(data.data(), data.size()))
            return ControlAnswer{StatusStall, {}};
        return ControlAnswer{StatusOk, {}};
    }
    if (!in && reportType == ReportTypeOutput && !data.empty()) {
        m_firmware->WriteOutputReport(data.data(), data.size());
        ++m_outputReportsTaken;
        return ControlAnswer{StatusOk, {}};
    }
    (void)ReportTypeInput;
    return ControlAnswer{StatusStall, {}};
}

void UsbHidAdapter::answer(const UsbipHeader& submit, std::int32_t status, const std::uint8_t* data,
                           std::size_t length) {
    const bool in = submit.direction == UsbipHeader::DirIn;
    std::uint32_t actual = 0;
    if (status == StatusOk)
        actual = in ? static_cast<std::uint32_t>(length)
                    : static_cast<std::uint32_t>(std::max(0, submit.transferLength()));
    const auto bytes = UsbipHeader::retSubmit(submit, status, actual).serialize();
    m_tx.insert(m_tx.end(), bytes.begin(), bytes.end());
    if (in && status == StatusOk && length > 0)
        m_tx.insert(m_tx.end(), data, data + length);
}

void UsbHidAdapter::unlink(const UsbipHeader& header) {
    ++m_unlinks;
    const std::uint32_t target = header.unlinkSeqnum();
    auto matches = [target](const UsbipHeader& h) { return h.seqnum == target; };
    bool found = false;
    if (auto it = std::find_if(m_inTransfers.begin(), m_inTransfers.end(), matches);
        it != m_inTransfers.end()) {
        m_inTransfers.erase(it);
        found = true;
    } else if (auto c = std::find_if(m_mutedControl.begin(), m_mutedControl.end(), matches);
               c != m_mutedControl.end()) {
        m_mutedControl.erase(c);
        found = true;
    } else if (auto o =
                   std::find_if(m_heldOut.begin(), m_heldOut.end(),
                                [target](const Transfer& t) { return t.header.seqnum == target; });
               o != m_heldOut.end()) {
        m_heldOut.erase(o);
        found = true;
    }
    // An unlinked transfer is never answered: an answer to a sequence number the host has
    // given up would end the connection. One already answered is reported as such (status 0).
    const auto bytes =
        UsbipHeader::retUnlink(header, found ? StatusUnlinked : StatusOk).serialize();
    m_tx.insert(m_tx.end(), bytes.begin(), bytes.end());
}

void UsbHidAdapter::Service() {
    if (m_firmware) {
        std::uint8_t slot[AdapterFirmware::InputReportLength];
        while (m_firmware->TakeInputReport(slot, sizeof slot))
            m_inQueue.emplace_back(slot, slot + sizeof slot);
    }
    while (!m_inQueue.empty() && !m_inTransfers.empty()) {
        const UsbipHeader transfer = m_inTransfers.front();
        m_inTransfers.pop_front();
        const std::vector<std::uint8_t>& report = m_inQueue.front();
        const std::size_t length = std::min(
            report.size(), static_cast<std::size_t>(std::max(0, transfer.transferLength())));
        answer(transfer, StatusOk, report.data(), length);
        m_inQueue.pop_front();
        ++m_inputReportsSent;
    }
}

std::vector<std::uint8_t> UsbHidAdapter::TakeOutput() {
    std::vector<std::uint8_t> out;
    out.swap(m_tx);
    return out;
}

void UsbHidAdapter::SetHoldOutput(bool hold) {
    m_holdOutput = hold;
    if (!hold)
        releaseHeldOutput();
}

void UsbHidAdapter::releaseHeldOutput() {
    while (!m_heldOut.empty()) {
        const Transfer transfer = std::move(m_heldOut.front());
        m_heldOut.pop_front();
        takeOutput(transfer);
    }
    Service();
}

void UsbHidAdapter::FailFeature(std::uint8_t reportId, unsigned count) {
    m_failures[reportId] = count;
}

void UsbHidAdapter::MuteFeature(std::uint8_t reportId, unsigned count) {
    m_mutes[reportId] = count;
}

void UsbHidAdapter::QueueInputReport(std::vector<std::uint8_t> report) {
    // Firmware input produced before this report goes first.
    Service();
    m_inQueue.push_back(std::move(report));
    Service();
}
