#pragma once

#include "device/platform/HidPlatform.h"
#include "device/platform/HidrawNodes.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class HidrawDevice;
class UdevNoticeWatcher;

// HID access on Linux: the kernel's hidraw nodes for transfers (each open one a HidrawDevice),
// sysfs for the list of interfaces and their serial numbers (HidrawNodes), libudev for arrival
// and removal notices. This class keeps the handles.
class HidrawPlatform : public HidPlatform {
public:
    // hidraw keeps a ring of 64 report slots per open file and one slot always stays empty to
    // tell a full ring from an empty one; further reports are dropped while it is full.
    static constexpr std::uint32_t QueuedInputReports = 63;

    explicit HidrawPlatform(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
    ~HidrawPlatform() override;

    HidrawPlatform(const HidrawPlatform&) = delete;
    HidrawPlatform& operator=(const HidrawPlatform&) = delete;

    std::optional<std::string> interfacePath(unsigned index) override;
    HidHandle openExclusive(const std::string& path) override;
    void close(HidHandle handle) override;
    bool attributes(HidHandle handle, HidAttributes& out) override;
    bool serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) override;
    bool capabilities(HidHandle handle, HidCaps& out) override;
    bool setInputBufferCount(HidHandle handle, std::uint32_t count) override;
    bool inputBufferCount(HidHandle handle, std::uint32_t& out) override;
    bool getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    bool setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override;
    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override;
    bool flushInput(HidHandle handle) override;
    void cancel(HidHandle handle, TransferKind kind) override;
    void resetCancel(HidHandle handle, TransferKind kind) override;
    OsVersion osVersion() override;
    std::optional<std::vector<HidAccessProblem>>
    inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) override;
    std::optional<std::u16string> serialWithoutOpening(const std::string& path) override;
    std::string lastError() const override;
    bool startNotices(DeviceNoticeHandler handler) override;
    void stopNotices() override;

    // Takes an open descriptor (a socket standing in for a device node in tests) as a handle with
    // the given report lengths; the platform owns the descriptor from then on. No ioctl works on
    // such a handle, transfers and cancels do.
    HidHandle adoptForTest(int fd, const HidCaps& caps, bool usesReportIds = true);

private:
    std::shared_ptr<HidrawDevice> find(HidHandle handle) const;
    HidHandle insert(std::shared_ptr<HidrawDevice> device);

    const HidrawNodes m_nodes;

    // Transfers look a handle up while another thread may close it: a looked-up device stays
    // alive (its descriptors open) until the last user lets go of it.
    mutable std::mutex m_mutex;
    std::map<HidHandle, std::shared_ptr<HidrawDevice>> m_devices;
    HidHandle m_nextHandle = 1;

    std::unique_ptr<UdevNoticeWatcher> m_watcher;
};
