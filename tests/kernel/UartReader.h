#pragma once

#include "device/CWendrake.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A receive thread as the terminal runs one: ReadUart without a time-out, again at once after any
// failure, every batch appended in read order. Stopped the same way too: StopReadUart, join.
class UartReader {
public:
    explicit UartReader(CWendrake& adapter);
    ~UartReader();

    UartReader(const UartReader&) = delete;
    UartReader& operator=(const UartReader&) = delete;

    void start();
    // Stops and joins the thread, then resumes reading on the adapter for the next reader.
    void stop();

    std::size_t byteCount() const { return m_byteCount.load(); }
    std::vector<std::uint8_t> bytes() const;
    void clear();
    // Largest batch one ReadUart delivered, in bytes.
    std::size_t largestBatch() const { return m_largestBatch.load(); }
    std::size_t failedReads() const { return m_failedReads.load(); }

private:
    void run();

    CWendrake& m_adapter;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_bytes;
    std::atomic<std::size_t> m_byteCount{0};
    std::atomic<std::size_t> m_largestBatch{0};
    std::atomic<std::size_t> m_failedReads{0};
};
