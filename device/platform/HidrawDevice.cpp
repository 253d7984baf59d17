#include "device/platform/HidrawDevice.h"

#include "common/FileAccess.h"
#include "device/platform/HidDescriptorParser.h"
#include "device/platform/HidrawError.h"
#include "device/platform/HidrawNodes.h"
#include "device/platform/HidrawUevent.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <span>
#include <thread>
#include <vector>

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// What an errno means for a transfer; the one place where errno values are interpreted.
enum class IoError { Interrupted, WouldBlock, DeviceGone, Other };

IoError classifyErrno(int error) {
    switch (error) {
    case EINTR:
        return IoError::Interrupted;
    case EAGAIN:
        return IoError::WouldBlock;
    // hidraw answers ENODEV once the device is gone and EIO to a read of an empty queue after
    // an unplug; a USB transfer cut short by the unplug ends with ESHUTDOWN or ENXIO.
    case ENODEV:
    case EIO:
    case ESHUTDOWN:
    case ENXIO:
        return IoError::DeviceGone;
    default:
        return IoError::Other;
    }
}

// A poll() time-out counted down across retries after EINTR.
class Deadline {
public:
    explicit Deadline(std::uint32_t timeoutMs)
        : m_infinite(timeoutMs == HidInfiniteTimeout),
          m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    int pollTimeout() const {
        if (m_infinite)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              m_end - std::chrono::steady_clock::now())
                              .count();
        return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    bool expired() const { return !m_infinite && std::chrono::steady_clock::now() >= m_end; }

private:
    bool m_infinite;
    std::chrono::steady_clock::time_point m_end;
};

void signalEvent(int fd) {
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled, which is all that matters.
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
}

void drainEvent(int fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] const auto got = ::read(fd, &value, sizeof value);
}

bool isReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// The feature ioctls carry the length in the request number's 14-bit size field; a larger length
// would silently turn into another request.
bool fitsIoctlSize(std::size_t length) {
    return length > 0 && length <= _IOC_SIZEMASK;
}
} // namespace

HidrawDevice::HidrawDevice(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}

HidrawDevice::~HidrawDevice() {
    FileAccess::close(m_fd);
    FileAccess::close(m_readCancel);
    FileAccess::close(m_writeCancel);
}

bool HidrawDevice::makeCancelEvents() {
    m_readCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_writeCancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_readCancel >= 0 && m_writeCancel >= 0;
}

std::pair<HidCaps, bool> HidrawDevice::lengths() const {
    std::lock_guard lock(m_lengthsMutex);
    return {m_caps, m_usesReportIds};
}

void HidrawDevice::setLengths(const HidCaps& caps, bool usesReportIds) {
    std::lock_guard lock(m_lengthsMutex);
    m_caps = caps;
    m_usesReportIds = usesReportIds;
}

bool HidrawDevice::attributes(HidAttributes& out) {
    hidraw_devinfo info{};
    if (::ioctl(m_fd, HIDIOCGRAWINFO, &info) < 0) {
        HidrawError::report("HIDIOCGRAWINFO", m_path, errno);
        return false;
    }
    // The kernel declares vendor and product as signed 16-bit; 0xE7A2 would read as negative.
    out.VendorId = static_cast<std::uint16_t>(info.vendor);
    out.ProductId = static_cast<std::uint16_t>(info.product);
    return true;
}

bool HidrawDevice::serialString(char16_t* buffer, std::size_t bufferUnits) {
    if (!buffer || bufferUnits == 0 || m_ueventPath.empty())
        return false;
    const auto text = HidrawNodes::readSmallFile(m_ueventPath);
    if (!text)
        return false;
    const auto uevent = HidrawUevent::parse(*text);
    // A device without a serial number has HID_UNIQ present but empty: an empty serial.
    if (!uevent.Uniq)
        return false;
    const std::u16string serial = utf8ToUtf16(*uevent.Uniq);
    std::size_t units = std::min(serial.size(), bufferUnits - 1);
    // Don't leave half a surrogate pair at the cut.
    if (units > 0 && units < serial.size() && serial[units - 1] >= 0xD800 &&
        serial[units - 1] <= 0xDBFF)
        --units;
    std::copy_n(serial.data(), units, buffer);
    buffer[units] = u'\0';
    return true;
}

bool HidrawDevice::loadDescriptor() {
    int size = 0;
    if (::ioctl(m_fd, HIDIOCGRDESCSIZE, &size) < 0) {
        HidrawError::report("HIDIOCGRDESCSIZE", m_path, errno);
        return false;
    }
    if (size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
        return false;
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<std::uint32_t>(size);
    if (::ioctl(m_fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        HidrawError::report("HIDIOCGRDESC", m_path, errno);
        return false;
    }
    const auto parsed = HidDescriptorParser::parse(
        std::span<const std::uint8_t>(descriptor->value, static_cast<std::size_t>(size)));
    if (!parsed.ok)
        return false;
    setLengths(parsed.caps, parsed.usesReportIds);
    return true;
}

bool HidrawDevice::getFeature(std::uint8_t* buffer, std::size_t length) {
    if (!buffer || !fitsIoctlSize(length))
        return false;
    const int got = ::ioctl(m_fd, HIDIOCGFEATURE(length), buffer);
    if (got < 0) {
        HidrawError::report("HIDIOCGFEATURE", m_path, errno);
        return false;
    }
    // The kernel writes only the bytes the device answered (report id first); the rest is ours.
    const std::size_t answered = std::min(static_cast<std::size_t>(got), length);
    std::fill(buffer + answered, buffer + length, std::uint8_t{0});
    return true;
}

bool HidrawDevice::setFeature(const std::uint8_t* buffer, std::size_t length) {
    if (!buffer || !fitsIoctlSize(length))
        return false;
    // The request is declared read-write, so the kernel wants a writable buffer.
    std::vector<std::uint8_t> copy(buffer, buffer + length);
    if (::ioctl(m_fd, HIDIOCSFEATURE(length), copy.data()) < 0) {
        HidrawError::report("HIDIOCSFEATURE", m_path, errno);
        return false;
    }
    return true;
}

TransferOutcome HidrawDevice::writeReport(const std::uint8_t* data, std::size_t length,
                                          std::uint32_t timeoutMs) {
    if (!data || length == 0 || m_gone)
        return TransferOutcome::Failed;
    // usbhid waits inside write() until the adapter took the report or its own time-out passed,
    // and no signal or cancel ends that wait: the write runs on the device's writer thread, so
    // that our time-out and a cancel give the caller back at once.
    return m_writer.write(
        shared_from_this(),
        [this](const std::uint8_t* report, std::size_t size) {
            return blockingWrite(report, size);
        },
        data, length, timeoutMs);
}

template <class Timeout>
int HidrawDevice::pollNode(std::array<pollfd, 2>& fds, short events, int cancel, Timeout timeout) {
    for (;;) {
        fds = {{{m_fd, events, 0}, {cancel, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), timeout());
        if (ready >= 0)
            return ready;
        const int error = errno;
        if (classifyErrno(error) != IoError::Interrupted) {
            HidrawError::report("poll", m_path, error);
            return -1;
        }
    }
}

TransferOutcome HidrawDevice::blockingWrite(const std::uint8_t* data, std::size_t length) {
    for (;;) {
        std::array<pollfd, 2> fds;
        // hidraw always reports a node as writable: the real wait is inside write(), which
        // blocks until the report went out on the bus or the USB layer gave up.
        if (pollNode(fds, POLLOUT, m_writeCancel, [] { return -1; }) < 0)
            return TransferOutcome::Failed;
        // The cancel stays signalled until resetCancel, so a write started after it ends too.
        if (fds[1].revents & POLLIN)
            return TransferOutcome::Completed;
        // Nothing has gone out of a report whose device is gone: that is a failure, not a
        // completion with 0 bytes.
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            m_gone = true;
            return TransferOutcome::Failed;
        }
        if (fds[0].revents & POLLNVAL)
            return TransferOutcome::Failed;
        if (!(fds[0].revents & POLLOUT))
            continue;

        const ssize_t written = ::write(m_fd, data, length);
        if (written >= 0) {
            return static_cast<std::size_t>(written) == length ? TransferOutcome::Completed
                                                               : TransferOutcome::Failed;
        }
        const int error = errno;
        if (classifyErrno(error) != IoError::Interrupted &&
            classifyErrno(error) != IoError::WouldBlock)
            HidrawError::report("write", m_path, error);
        switch (classifyErrno(error)) {
        case IoError::Interrupted:
            continue;
        case IoError::WouldBlock:
            // The node claimed to be writable; don't spin on that claim.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        case IoError::DeviceGone:
            m_gone = true;
            return TransferOutcome::Failed;
        case IoError::Other:
            return TransferOutcome::Failed;
        }
    }
}

TransferOutcome HidrawDevice::readReports(std::uint8_t* buffer, std::size_t length,
                                          std::uint32_t timeoutMs, std::size_t& bytesRead) {
    if (!buffer)
        return TransferOutcome::Failed;
    const auto [caps, usesIds] = lengths();
    const std::size_t slot = caps.InputReportLength;
    if (slot < 2 || length < slot)
        return TransferOutcome::Failed;
    // Only a read that was already waiting when the device went ends as an empty completion;
    // one started afterwards gets what is still queued, and fails at once when nothing is.
    pollfd atStart{m_fd, POLLIN, 0};
    const bool goneAtStart = ::poll(&atStart, 1, 0) > 0 && (atStart.revents & (POLLHUP | POLLERR));

    const Deadline deadline(timeoutMs);
    for (;;) {
        std::array<pollfd, 2> fds;
        const int ready =
            pollNode(fds, POLLIN, m_readCancel, [&deadline] { return deadline.pollTimeout(); });
        if (ready < 0)
            return TransferOutcome::Failed;
        // Not consumed here: the cancel must stay in force until resetCancel.
        if (fds[1].revents & POLLIN) {
            bytesRead = 0;
            return TransferOutcome::Completed;
        }
        if (ready == 0) {
            if (deadline.expired())
                return TransferOutcome::TimedOut;
            continue;
        }
        if (fds[0].revents & POLLNVAL)
            return TransferOutcome::Failed;

        // Reports queued before an unplug are still handed out, so read before looking at
        // the hang-up.
        std::size_t taken = 0;
        bool lost = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        bool failed = false;
        if (fds[0].revents & POLLIN) {
            while (length - taken >= slot) {
                std::uint8_t* report = buffer + taken;
                // Without report ids the kernel hands reports over without an id byte; a 0 in
                // front keeps the layout of numbered reports.
                std::uint8_t* payload = usesIds ? report : report + 1;
                const std::size_t room = usesIds ? slot : slot - 1;
                // One read() is one report; a longer one is cut to the slot by the kernel.
                const ssize_t got = ::read(m_fd, payload, room);
                if (got > 0) {
                    if (!usesIds)
                        report[0] = 0;
                    std::fill(payload + got, report + slot, std::uint8_t{0});
                    taken += slot;
                    continue;
                }
                if (got == 0) {
                    lost = true;
                    break;
                }
                const int errorNumber = errno;
                const IoError error = classifyErrno(errorNumber);
                if (error == IoError::Interrupted)
                    continue;
                if (error != IoError::WouldBlock)
                    HidrawError::report("read", m_path, errorNumber);
                if (error == IoError::DeviceGone)
                    lost = true;
                else if (error == IoError::Other)
                    failed = true;
                break;
            }
        }
        // Reports read before a hang-up are delivered; the next read then ends on the hang-up.
        if (taken > 0) {
            bytesRead = taken;
            return TransferOutcome::Completed;
        }
        // A read pending when the device went ends as a completion with nothing in it.
        if (lost) {
            m_gone = true;
            if (goneAtStart)
                return TransferOutcome::Failed;
            bytesRead = 0;
            return TransferOutcome::Completed;
        }
        if (failed)
            return TransferOutcome::Failed;
        // Someone else emptied the queue first (a flush): wait again.
    }
}

bool HidrawDevice::flushInput() {
    std::array<std::uint8_t, 1024> scratch{};
    // Bounded, so that a device sending without pause cannot keep us here; the queue holds
    // far fewer reports than this.
    for (int reads = 0; reads < 4096; ++reads) {
        const ssize_t got = ::read(m_fd, scratch.data(), scratch.size());
        if (got > 0)
            continue;
        if (got == 0)
            return false;
        const int error = errno;
        switch (classifyErrno(error)) {
        case IoError::Interrupted:
            continue;
        case IoError::WouldBlock:
            return true;
        case IoError::DeviceGone:
        case IoError::Other:
            HidrawError::report("read", m_path, error);
            return false;
        }
    }
    return true;
}

void HidrawDevice::cancel(TransferKind kind) {
    signalEvent(cancelFd(kind));
    if (kind == TransferKind::Write)
        m_writer.cancel();
}

void HidrawDevice::resetCancel(TransferKind kind) {
    const int fd = cancelFd(kind);
    while (isReadable(fd))
        drainEvent(fd);
    if (kind == TransferKind::Write)
        m_writer.resetCancel();
}
