#pragma once

#include "device/platform/HidPlatform.h"
#include "device/platform/ReportWriter.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <poll.h>

// One open hidraw node: its descriptor, the two cancel events that wake a waiting read or write,
// the report lengths from its descriptor, and the transfers. Owned by shared pointer, since a
// transfer keeps the device (its descriptors and the lock on the node) alive while another
// thread closes the handle.
class HidrawDevice : public std::enable_shared_from_this<HidrawDevice> {
public:
    // Takes fd (open, non-blocking) over; path is for the failure texts.
    HidrawDevice(std::string path, int fd);
    ~HidrawDevice();

    HidrawDevice(const HidrawDevice&) = delete;
    HidrawDevice& operator=(const HidrawDevice&) = delete;

    // Makes the read and write cancel events; false when the system gives none.
    bool makeCancelEvents();
    const std::string& path() const { return m_path; }
    int fd() const { return m_fd; }
    void setUeventPath(std::string path) { m_ueventPath = std::move(path); }

    // Reads the report descriptor and keeps the report lengths it gives.
    bool loadDescriptor();
    std::pair<HidCaps, bool> lengths() const;
    void setLengths(const HidCaps& caps, bool usesReportIds);

    bool attributes(HidAttributes& out);
    bool serialString(char16_t* buffer, std::size_t bufferUnits);
    bool getFeature(std::uint8_t* buffer, std::size_t length);
    bool setFeature(const std::uint8_t* buffer, std::size_t length);
    TransferOutcome writeReport(const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs);
    TransferOutcome readReports(std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs,
                                std::size_t& bytesRead);
    bool flushInput();
    void cancel(TransferKind kind);
    void resetCancel(TransferKind kind);

private:
    int cancelFd(TransferKind kind) const {
        return kind == TransferKind::Read ? m_readCancel : m_writeCancel;
    }
    TransferOutcome blockingWrite(const std::uint8_t* data, std::size_t length);
    // Waits for events on the node or for the cancel event, again after a signal (with the time
    // left that timeout() gives); -1, reported, when poll fails.
    template <class Timeout>
    int pollNode(std::array<pollfd, 2>& fds, short events, int cancel, Timeout timeout);

    const std::string m_path;
    const int m_fd;
    int m_readCancel = -1;
    int m_writeCancel = -1;
    std::string m_ueventPath;
    // Set when a transfer saw the device go: later writes fail at once. Reads look for
    // themselves, so that reports queued before the unplug are still handed out.
    std::atomic<bool> m_gone{false};
    // Report writes run here; a write stuck in the driver keeps the device (and the lock on the
    // node) until it has left.
    ReportWriter m_writer;

    mutable std::mutex m_lengthsMutex;
    HidCaps m_caps;
    bool m_usesReportIds = true;
};
