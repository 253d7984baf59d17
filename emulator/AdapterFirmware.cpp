#include "emulator/AdapterFirmware.h"

#include <algorithm>
#include <cstring>

namespace {

using WendrakeProtocol::FirstFeatureId;
using WendrakeProtocol::FirstStreamId;
using WendrakeProtocol::LastFeatureId;
using WendrakeProtocol::LastStreamId;

// Short items of the HID report descriptor (tag, type and size in the prefix byte).
void item(std::vector<std::uint8_t>& d, std::uint8_t prefix, std::uint8_t value) {
    d.push_back(prefix);
    d.push_back(value);
}

} // namespace

// ---- ReportQueue ----

AdapterFirmware::ReportQueue::ReportQueue(std::size_t initialCapacity)
    : m_storage(std::max<std::size_t>(initialCapacity, 1) * InputReportLength),
      m_capacity(std::max<std::size_t>(initialCapacity, 1)) {}

void AdapterFirmware::ReportQueue::push(const std::uint8_t* report, std::size_t length) {
    if (m_count == m_capacity)
        grow();
    std::uint8_t* slot = m_storage.data() + ((m_head + m_count) % m_capacity) * InputReportLength;
    const std::size_t copied = std::min(length, InputReportLength);
    std::memcpy(slot, report, copied);
    std::memset(slot + copied, 0, InputReportLength - copied);
    ++m_count;
}

const std::uint8_t* AdapterFirmware::ReportQueue::front() const {
    return m_storage.data() + m_head * InputReportLength;
}

void AdapterFirmware::ReportQueue::pop() {
    if (m_count == 0)
        return;
    m_head = (m_head + 1) % m_capacity;
    --m_count;
}

void AdapterFirmware::ReportQueue::clear() {
    m_head = 0;
    m_count = 0;
}

void AdapterFirmware::ReportQueue::grow() {
    // Unroll the ring into a buffer twice the size so that the order is kept.
    std::vector<std::uint8_t> bigger(m_capacity * 2 * InputReportLength);
    for (std::size_t i = 0; i < m_count; ++i)
        std::memcpy(bigger.data() + i * InputReportLength,
                    m_storage.data() + ((m_head + i) % m_capacity) * InputReportLength,
                    InputReportLength);
    m_storage.swap(bigger);
    m_capacity *= 2;
    m_head = 0;
}

// ---- Descriptor and command table ----

std::vector<std::uint8_t> AdapterFirmware::ReportDescriptor() {
    std::vector<std::uint8_t> d;
    d.insert(d.end(), {0x06, 0x00, 0xFF}); // Usage Page (vendor 0xFF00)
    item(d, 0x09, 0x01);                   // Usage (1)
    item(d, 0xA1, 0x01);                   // Collection (Application)
    item(d, 0x15, 0x00);                   // Logical Minimum (0)
    d.insert(d.end(), {0x26, 0xFF, 0x00}); // Logical Maximum (255), two bytes to stay positive
    item(d, 0x75, 0x08);                   // Report Size (8 bits)
    for (std::uint8_t id = FirstFeatureId; id <= LastFeatureId; ++id) {
        item(d, 0x85, id);                                               // Report ID
        item(d, 0x09, id);                                               // Usage
        item(d, 0x95, static_cast<std::uint8_t>(FeatureLength(id) - 1)); // Report Count
        item(d, 0xB1, 0x02); // Feature (Data, Variable, Absolute)
    }
    // Report Count is global: set once for every stream report.
    item(d, 0x95, static_cast<std::uint8_t>(MaxChunkBytes));
    for (unsigned id = FirstStreamId; id <= LastStreamId; ++id) {
        item(d, 0x85, static_cast<std::uint8_t>(id));
        item(d, 0x09, 0x01);
        item(d, 0x81, 0x02); // Input (Data, Variable, Absolute)
        item(d, 0x09, 0x02);
        item(d, 0x91, 0x02); // Output (Data, Variable, Absolute)
    }
    d.push_back(0xC0); // End Collection
    return d;
}

std::size_t AdapterFirmware::FeatureLength(std::uint8_t reportId) {
    return WendrakeProtocol::FeatureLength(reportId);
}

bool AdapterFirmware::IsGettable(std::uint8_t reportId) {
    switch (reportId) {
    case GetModeReport:
    case VersionMajorReport:
    case VersionMinorReport:
    case UartConfigReport:
    case FifoStatusReport:
    case PinConfigReport:
    case GetPinLatchReport:
        return true;
    default:
        return false;
    }
}

bool AdapterFirmware::IsSettable(std::uint8_t reportId) {
    switch (reportId) {
    case SetModeReport:
    case ConfirmModeReport:
    case UartEnableReport:
    case UartConfigReport:
    case PurgeFifoReport:
    case PinConfigReport:
    case SetPinLatchReport:
        return true;
    default:
        return false;
    }
}

AdapterFirmware::AdapterFirmware() = default;

// ---- Host side ----

bool AdapterFirmware::GetFeature(std::uint8_t* buffer, std::size_t length) {
    if (buffer == nullptr || length == 0)
        return false;
    const std::uint8_t id = buffer[0];
    if (!IsGettable(id) || length != FeatureLength(id))
        return false;
    std::lock_guard lock(m_mutex);
    std::memset(buffer + 1, 0, length - 1);
    switch (id) {
    case GetModeReport:
        if (!m_modeAnswers.empty()) {
            buffer[1] = m_modeAnswers.front();
            m_modeAnswers.pop_front();
        } else {
            buffer[1] = m_modeState;
        }
        break;
    case VersionMajorReport:
        buffer[1] = m_versionMajor;
        break;
    case VersionMinorReport:
        buffer[1] = m_versionMinor;
        break;
    case UartConfigReport:
        WendrakeProtocol::PutUartConfig(m_uart, buffer);
        break;
    case FifoStatusReport:
        WendrakeProtocol::PutFifoStatus({m_txFifo, m_rxFifo}, buffer);
        break;
    case PinConfigReport:
        WendrakeProtocol::PutPinConfig(m_pins, buffer);
        break;
    case GetPinLatchReport:
        buffer[1] =
            static_cast<std::uint8_t>((m_latch & ~m_inputMask) | (m_inputLevels & m_inputMask));
        break;
    }
    return true;
}

bool AdapterFirmware::SetFeature(const std::uint8_t* buffer, std::size_t length) {
    if (buffer == nullptr || length == 0)
        return false;
    const std::uint8_t id = buffer[0];
    if (!IsSettable(id) || length != FeatureLength(id))
        return false;
    std::lock_guard lock(m_mutex);
    switch (id) {
    case SetModeReport:
        // The host's mode is idle until confirmed; handed back, the adapter counts as connected.
        if (buffer[1] == RequestHostMode)
            m_modeState = ModeIdle;
        else if (buffer[1] == HandBackMode)
            m_modeState = ModeConnected;
        else
            return false;
        break;
    case ConfirmModeReport:
        if (buffer[1] != WendrakeProtocol::ConfirmModeValue)
            return false;
        if (m_modeState == ModeIdle)
            m_modeState = ModeConnected;
        break;
    case UartEnableReport:
        if (buffer[1] != UartOff && buffer[1] != UartOn)
            return false;
        m_uartEnabled = buffer[1] == UartOn;
        break;
    case UartConfigReport:
        m_uart = WendrakeProtocol::TakeUartConfig(buffer);
        break;
    case PurgeFifoReport:
        if (buffer[1] > PurgeBoth)
            return false;
        m_purgeCodes.push_back(buffer[1]);
        if (buffer[1] == PurgeTransmit || buffer[1] == PurgeBoth)
            m_txFifo = 0;
        if (buffer[1] == PurgeReceive || buffer[1] == PurgeBoth) {
            m_rxFifo = 0;
            m_pendingInput.clear();
        }
        break;
    case PinConfigReport:
        m_pins = WendrakeProtocol::TakePinConfig(buffer);
        break;
    case SetPinLatchReport: {
        const std::uint8_t values = buffer[1];
        const std::uint8_t mask = buffer[2];
        m_latch = static_cast<std::uint8_t>((m_latch & ~mask) | (values & mask));
        break;
    }
    }
    return true;
}

std::size_t AdapterFirmware::WriteOutputReport(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length == 0)
        return 0;
    const std::uint8_t id = data[0];
    std::lock_guard lock(m_mutex);
    if (id < FirstStreamId || id > LastStreamId ||
        static_cast<std::size_t>(id - UartReportBase) > length - 1) {
        ++m_ignoredOutput;
        return 0;
    }
    const std::size_t n = id - UartReportBase;
    m_bytesOut += n;
    if (m_loopback) {
        queueInputLocked(data + 1, n);
        return 1;
    }
    if (m_recordUartOutput)
        m_uartOutput.insert(m_uartOutput.end(), data + 1, data + 1 + n);
    return 0;
}

std::size_t AdapterFirmware::PendingInputReports() const {
    std::lock_guard lock(m_mutex);
    return m_pendingInput.size();
}

bool AdapterFirmware::TakeInputReport(std::uint8_t* slot, std::size_t slotLength) {
    std::lock_guard lock(m_mutex);
    if (m_pendingInput.empty())
        return false;
    const std::size_t copied = std::min(slotLength, InputReportLength);
    std::memcpy(slot, m_pendingInput.front(), copied);
    if (slotLength > copied)
        std::memset(slot + copied, 0, slotLength - copied);
    m_pendingInput.pop();
    return true;
}

std::size_t AdapterFirmware::PullFromSource(std::size_t maxReports) {
    std::lock_guard lock(m_mutex);
    if (!m_source)
        return 0;
    std::uint8_t chunk[MaxChunkBytes];
    std::size_t produced = 0;
    while (produced < maxReports) {
        const std::size_t n = std::min(m_source(chunk, MaxChunkBytes), MaxChunkBytes);
        if (n == 0)
            break;
        queueInputLocked(chunk, n);
        ++produced;
    }
    return produced;
}

void AdapterFirmware::DiscardPendingInput() {
    std::lock_guard lock(m_mutex);
    m_pendingInput.clear();
}

void AdapterFirmware::PowerCycle() {
    std::lock_guard lock(m_mutex);
    m_modeState = ModeIdle;
    m_uartEnabled = false;
    m_pendingInput.clear();
}

void AdapterFirmware::queueInputLocked(const std::uint8_t* data, std::size_t count) {
    std::uint8_t report[InputReportLength];
    while (count > 0) {
        const std::size_t n = std::min(count, MaxChunkBytes);
        report[0] = static_cast<std::uint8_t>(UartReportBase + n);
        std::memcpy(report + 1, data, n);
        m_pendingInput.push(report, 1 + n); // the queue zero-pads the rest
        m_bytesIn += n;
        data += n;
        count -= n;
    }
}

// ---- Test side ----

void AdapterFirmware::InjectUartInput(const std::uint8_t* data, std::size_t count) {
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        queueInputLocked(data, count);
        listener = m_inputListener;
    }
    if (listener)
        listener();
}

void AdapterFirmware::InjectUartInput(std::string_view bytes) {
    InjectUartInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void AdapterFirmware::SetUartSource(std::function<std::size_t(std::uint8_t*, std::size_t)> source) {
    std::lock_guard lock(m_mutex);
    m_source = std::move(source);
}

void AdapterFirmware::SetInputListener(std::function<void()> listener) {
    std::lock_guard lock(m_mutex);
    m_inputListener = std::move(listener);
}

void AdapterFirmware::SetLoopback(bool on) {
    std::lock_guard lock(m_mutex);
    m_loopback = on;
}

bool AdapterFirmware::Loopback() const {
    std::lock_guard lock(m_mutex);
    return m_loopback;
}

void AdapterFirmware::QueueModeAnswers(std::initializer_list<std::uint8_t> answers) {
    std::lock_guard lock(m_mutex);
    m_modeAnswers.insert(m_modeAnswers.end(), answers.begin(), answers.end());
}

void AdapterFirmware::QueueModeAnswer(std::uint8_t answer) {
    std::lock_guard lock(m_mutex);
    m_modeAnswers.push_back(answer);
}

void AdapterFirmware::ClearModeAnswers() {
    std::lock_guard lock(m_mutex);
    m_modeAnswers.clear();
}

std::uint8_t AdapterFirmware::ModeState() const {
    std::lock_guard lock(m_mutex);
    return m_modeState;
}

void AdapterFirmware::SetModeState(std::uint8_t state) {
    std::lock_guard lock(m_mutex);
    m_modeState = state;
}

void AdapterFirmware::SetVersion(std::uint8_t major, std::uint8_t minor) {
    std::lock_guard lock(m_mutex);
    m_versionMajor = major;
    m_versionMinor = minor;
}

AdapterFirmware::UartSettings AdapterFirmware::Uart() const {
    std::lock_guard lock(m_mutex);
    return m_uart;
}

void AdapterFirmware::SetUart(const UartSettings& settings) {
    std::lock_guard lock(m_mutex);
    m_uart = settings;
}

AdapterFirmware::PinSettings AdapterFirmware::Pins() const {
    std::lock_guard lock(m_mutex);
    return m_pins;
}

void AdapterFirmware::SetPins(const PinSettings& settings) {
    std::lock_guard lock(m_mutex);
    m_pins = settings;
}

bool AdapterFirmware::UartEnabled() const {
    std::lock_guard lock(m_mutex);
    return m_uartEnabled;
}

void AdapterFirmware::SetUartEnabled(bool on) {
    std::lock_guard lock(m_mutex);
    m_uartEnabled = on;
}

std::uint8_t AdapterFirmware::Latch() const {
    std::lock_guard lock(m_mutex);
    return m_latch;
}

void AdapterFirmware::SetLatch(std::uint8_t latch) {
    std::lock_guard lock(m_mutex);
    m_latch = latch;
}

void AdapterFirmware::SetInputLevels(std::uint8_t levels, std::uint8_t mask) {
    std::lock_guard lock(m_mutex);
    m_inputLevels = static_cast<std::uint8_t>((m_inputLevels & ~mask) | (levels & mask));
    m_inputMask = static_cast<std::uint8_t>(m_inputMask | mask);
}

std::uint8_t AdapterFirmware::PinLevels() const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::uint8_t>((m_latch & ~m_inputMask) | (m_inputLevels & m_inputMask));
}

void AdapterFirmware::SetFifoCounts(std::uint16_t tx, std::uint16_t rx) {
    std::lock_guard lock(m_mutex);
    m_txFifo = tx;
    m_rxFifo = rx;
}

std::uint16_t AdapterFirmware::TxFifoCount() const {
    std::lock_guard lock(m_mutex);
    return m_txFifo;
}

std::uint16_t AdapterFirmware::RxFifoCount() const {
    std::lock_guard lock(m_mutex);
    return m_rxFifo;
}

std::vector<std::uint8_t> AdapterFirmware::PurgeCodes() const {
    std::lock_guard lock(m_mutex);
    return m_purgeCodes;
}

std::vector<std::uint8_t> AdapterFirmware::UartOutput() const {
    std::lock_guard lock(m_mutex);
    return m_uartOutput;
}

void AdapterFirmware::ClearUartOutput() {
    std::lock_guard lock(m_mutex);
    m_uartOutput.clear();
}

void AdapterFirmware::SetRecordUartOutput(bool on) {
    std::lock_guard lock(m_mutex);
    m_recordUartOutput = on;
}

std::uint64_t AdapterFirmware::UartBytesOut() const {
    std::lock_guard lock(m_mutex);
    return m_bytesOut;
}

std::uint64_t AdapterFirmware::UartBytesIn() const {
    std::lock_guard lock(m_mutex);
    return m_bytesIn;
}

std::size_t AdapterFirmware::IgnoredOutputReports() const {
    std::lock_guard lock(m_mutex);
    return m_ignoredOutput;
}
