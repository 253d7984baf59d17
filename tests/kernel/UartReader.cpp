#include "tests/kernel/UartReader.h"

UartReader::UartReader(CWendrake& adapter) : m_adapter(adapter) {}

UartReader::~UartReader() {
    stop();
}

void UartReader::start() {
    if (m_thread.joinable())
        return;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void UartReader::stop() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_adapter.StopReadUart();
    m_thread.join();
    m_adapter.ResumeReadUart();
}

std::vector<std::uint8_t> UartReader::bytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void UartReader::clear() {
    std::lock_guard lock(m_mutex);
    m_bytes.clear();
    m_byteCount = 0;
    m_largestBatch = 0;
    m_failedReads = 0;
}

void UartReader::run() {
    std::vector<std::uint8_t> destination(m_adapter.GetReceiveBufferSize());
    while (!m_stop) {
        std::uint16_t count = 0;
        const WendrakeStatus status = m_adapter.ReadUart(
            destination.data(), static_cast<std::uint32_t>(destination.size()), &count);
        if (status != WendrakeOk) {
            ++m_failedReads;
            // An unplugged adapter fails every read at once; do not spin the CPU the adapter
            // program needs.
            std::this_thread::yield();
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_bytes.insert(m_bytes.end(), destination.begin(), destination.begin() + count);
        m_byteCount = m_bytes.size();
        if (count > m_largestBatch)
            m_largestBatch = count;
    }
}
