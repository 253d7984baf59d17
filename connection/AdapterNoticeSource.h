#pragma once

#include "device/WendrakeTypes.h"
#include "device/platform/HidPlatform.h"

#include <cstddef>
#include <cstdint>

// Notices of adapter interfaces arriving and leaving, all the terminal window hears of the system
// beside its adapter: the window gets this and its CWendrake, never the whole HID platform.
class AdapterNoticeSource {
public:
    virtual ~AdapterNoticeSource() = default;

    // Notices arrive on the window's thread until stopNotices. False when the system gives none.
    virtual bool startNotices(DeviceNoticeHandler handler) = 0;
    virtual void stopNotices() = 0;

    // An arrival or removal of an interface whose name starts with the adapter's path prefix
    // (the first 25 characters, case-sensitive; a shorter name never matches).
    static bool IsAdapterNotice(std::uint32_t event, const DeviceNotice& notice) {
        if (event != DeviceArrivalEvent && event != DeviceRemoveCompleteEvent)
            return false;
        if (notice.DeviceType != DeviceTypeInterface)
            return false;
        constexpr std::size_t prefixLength = sizeof(AdapterPathPrefix) - 1;
        return notice.Name.size() >= prefixLength &&
               notice.Name.compare(0, prefixLength, AdapterPathPrefix) == 0;
    }
};
