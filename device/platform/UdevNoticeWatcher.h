#pragma once

#include "device/platform/HidPlatform.h"

#include <optional>
#include <string>
#include <string_view>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Watches hidraw arrivals and removals through a libudev monitor and hands them on as device
// notices, on the thread that started the watch (its event loop drives the monitor's socket).
class UdevNoticeWatcher {
public:
    static constexpr const char* UdevControlPath = "/run/udev/control";

    explicit UdevNoticeWatcher(std::string udevControlPath = UdevControlPath);
    ~UdevNoticeWatcher();

    UdevNoticeWatcher(const UdevNoticeWatcher&) = delete;
    UdevNoticeWatcher& operator=(const UdevNoticeWatcher&) = delete;

    // False when no monitor can be had (no netlink in a container, no event loop); nothing is
    // left running then. Starting again replaces the handler.
    bool start(DeviceNoticeHandler handler);
    // Safe from inside a notice handler.
    void stop();
    bool isRunning() const { return m_monitor != nullptr; }

    // "udev" when a udev daemon runs (its control socket exists): its events come after the
    // device node is ready. "kernel" otherwise: the raw events are all there is.
    static const char* monitorSource(const std::string& udevControlPath);

    // "\\?\HID#Vid_e7a2&Pid_4d15#0003:E7A2:4D15.0001" from a hidraw node's devpath, whose parent
    // is the hid device "0003:E7A2:4D15.0001"; nullopt when the path has no such parent.
    static std::optional<std::string> interfaceName(std::string_view devpath);
    // The notice for a udev action on a hidraw node; only "add" and "remove" make one.
    static std::optional<DeviceNotice> notice(std::string_view action, std::string_view devpath);

private:
    void receive();
    void release();

    const std::string m_udevControlPath;
    DeviceNoticeHandler m_handler;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    // Bumped by every stop, so that a dispatch in progress notices it.
    unsigned m_generation = 0;
    int m_dispatchDepth = 0;
};
