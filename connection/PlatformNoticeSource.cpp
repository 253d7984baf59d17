#include "connection/PlatformNoticeSource.h"

#include "connection/AdapterAccessDetail.h"

bool PlatformNoticeSource::startNotices(DeviceNoticeHandler handler) {
    return m_platform.startNotices(std::move(handler));
}

void PlatformNoticeSource::stopNotices() {
    m_platform.stopNotices();
}

QString PlatformNoticeSource::noDeviceDetail() {
    return AdapterAccessDetail::NoDeviceDetail(m_platform);
}

QString PlatformNoticeSource::connectFailedDetail(WendrakeStatus status) {
    return AdapterAccessDetail::ConnectFailedDetail(m_platform, status);
}
