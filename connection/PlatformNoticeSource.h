#pragma once

#include "connection/AdapterNoticeSource.h"

// The adapter notices of a HID platform.
class PlatformNoticeSource : public AdapterNoticeSource {
public:
    explicit PlatformNoticeSource(HidPlatform& platform) : m_platform(platform) {}

    bool startNotices(DeviceNoticeHandler handler) override;
    void stopNotices() override;

private:
    HidPlatform& m_platform;
};
