#include "device/platform/HidrawPlatform.h"

#include "common/FileAccess.h"
#include "device/platform/HidrawDevice.h"
#include "device/platform/HidrawError.h"
#include "device/platform/HidrawUevent.h"
#include "device/platform/UdevNoticeWatcher.h"

#include <fcntl.h>

HidrawPlatform::HidrawPlatform(std::string sysfsRoot, std::string devRoot)
    : m_nodes(std::move(sysfsRoot), std::move(devRoot)) {}

HidrawPlatform::~HidrawPlatform() {
    stopNotices();
}

std::optional<std::string> HidrawPlatform::interfacePath(unsigned index) {
    return m_nodes.pathAt(index);
}

HidHandle HidrawPlatform::insert(std::shared_ptr<HidrawDevice> device) {
    std::lock_guard lock(m_mutex);
    // 0 and the invalid value are never handed out, whatever has been opened before.
    while (m_nextHandle <= 0 || m_nextHandle == InvalidHidHandle || m_devices.count(m_nextHandle))
        m_nextHandle = m_nextHandle <= 0 ? 1 : m_nextHandle + 1;
    const HidHandle handle = m_nextHandle++;
    m_devices.emplace(handle, std::move(device));
    return handle;
}

std::shared_ptr<HidrawDevice> HidrawPlatform::find(HidHandle handle) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(handle);
    return it == m_devices.end() ? nullptr : it->second;
}

HidHandle HidrawPlatform::openExclusive(const std::string& path) {
    // Non-blocking, so that after poll() the queue can be read empty without ever blocking.
    // hidraw itself lets any number of processes open a node; the advisory lock is what makes
    // a device held by another (cooperating) program count as open elsewhere.
    FileAccess::Failure failure;
    const int fd = FileAccess::openLocked(path.c_str(), O_RDWR | O_NONBLOCK, failure);
    if (fd < 0) {
        HidrawError::report(failure.call(), path, failure.error);
        return InvalidHidHandle;
    }
    auto device = std::make_shared<HidrawDevice>(path, fd);
    if (!device->makeCancelEvents()) {
        HidrawError::report("eventfd", path, errno);
        return InvalidHidHandle;
    }
    // What went wrong with the nodes tried before this one is no reason for what follows.
    HidrawError::clear();
    device->setUeventPath(m_nodes.ueventPathFor(path, fd));
    // Transfers need the report lengths even if nobody asks for the capabilities.
    device->loadDescriptor();
    return insert(std::move(device));
}

HidHandle HidrawPlatform::adoptForTest(int fd, const HidCaps& caps, bool usesReportIds) {
    if (fd < 0)
        return InvalidHidHandle;
    auto device = std::make_shared<HidrawDevice>("descriptor " + std::to_string(fd), fd);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 || !device->makeCancelEvents())
        return InvalidHidHandle;
    device->setLengths(caps, usesReportIds);
    return insert(std::move(device));
}

void HidrawPlatform::close(HidHandle handle) {
    std::shared_ptr<HidrawDevice> device;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_devices.find(handle);
        if (it == m_devices.end())
            return;
        device = std::move(it->second);
        m_devices.erase(it);
    }
    // A transfer still waiting on the device wakes and ends; the descriptors (and the lock)
    // go when it lets go of the device.
    device->cancel(TransferKind::Read);
    device->cancel(TransferKind::Write);
}

bool HidrawPlatform::attributes(HidHandle handle, HidAttributes& out) {
    const auto device = find(handle);
    return device && device->attributes(out);
}

bool HidrawPlatform::serialString(HidHandle handle, char16_t* buffer, std::size_t bufferUnits) {
    const auto device = find(handle);
    return device && device->serialString(buffer, bufferUnits);
}

bool HidrawPlatform::capabilities(HidHandle handle, HidCaps& out) {
    const auto device = find(handle);
    if (!device || !device->loadDescriptor())
        return false;
    out = device->lengths().first;
    return true;
}

bool HidrawPlatform::setInputBufferCount(HidHandle, std::uint32_t) {
    // hidraw's queue length is fixed in the kernel.
    return false;
}

bool HidrawPlatform::inputBufferCount(HidHandle handle, std::uint32_t& out) {
    if (!find(handle))
        return false;
    out = QueuedInputReports;
    return true;
}

bool HidrawPlatform::getFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    const auto device = find(handle);
    return device && device->getFeature(buffer, length);
}

bool HidrawPlatform::setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) {
    const auto device = find(handle);
    return device && device->setFeature(buffer, length);
}

TransferOutcome HidrawPlatform::writeReport(HidHandle handle, const std::uint8_t* data,
                                            std::size_t length, std::uint32_t timeoutMs) {
    const auto device = find(handle);
    return device ? device->writeReport(data, length, timeoutMs) : TransferOutcome::Failed;
}

TransferOutcome HidrawPlatform::readReports(HidHandle handle, std::uint8_t* buffer,
                                            std::size_t length, std::uint32_t timeoutMs,
                                            std::size_t& bytesRead) {
    const auto device = find(handle);
    return device ? device->readReports(buffer, length, timeoutMs, bytesRead)
                  : TransferOutcome::Failed;
}

bool HidrawPlatform::flushInput(HidHandle handle) {
    const auto device = find(handle);
    return device && device->flushInput();
}

void HidrawPlatform::cancel(HidHandle handle, TransferKind kind) {
    if (const auto device = find(handle))
        device->cancel(kind);
}

void HidrawPlatform::resetCancel(HidHandle handle, TransferKind kind) {
    if (const auto device = find(handle))
        device->resetCancel(kind);
}

OsVersion HidrawPlatform::osVersion() {
    return OsVersion{};
}

std::optional<std::vector<HidAccessProblem>>
HidrawPlatform::inaccessibleInterfaces(std::uint16_t vendorId, std::uint16_t productId) {
    return m_nodes.inaccessible(vendorId, productId);
}

std::optional<std::u16string> HidrawPlatform::serialWithoutOpening(const std::string& path) {
    const auto uniq = m_nodes.uniqOf(path);
    if (!uniq)
        return std::nullopt;
    return utf8ToUtf16(*uniq);
}

std::string HidrawPlatform::lastError() const {
    return HidrawError::last();
}

bool HidrawPlatform::startNotices(DeviceNoticeHandler handler) {
    // Kept once made: a handler may restart notices from inside a notice.
    if (!m_watcher)
        m_watcher = std::make_unique<UdevNoticeWatcher>();
    return m_watcher->start(std::move(handler));
}

void HidrawPlatform::stopNotices() {
    if (m_watcher)
        m_watcher->stop();
}
