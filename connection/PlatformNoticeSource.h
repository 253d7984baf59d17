#pragma once

#include "connection/AdapterNoticeSource.h"

// The notices and access details of a HID platform.
class PlatformNoticeSource : public AdapterNoticeSource {
public:
    explicit PlatformNoticeSource(HidPlatform& platform) : m_platform(platform) {}

    bool startNotices(DeviceNoticeHandler handler) override;
    void stopNotices() override;
    QString noDeviceDetail() override;
    QString connectFailedDetail(WendrakeStatus status) override;

private:
    HidPlatform& m_platform;
};
