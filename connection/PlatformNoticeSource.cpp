#include "connection/PlatformNoticeSource.h"

bool PlatformNoticeSource::startNotices(DeviceNoticeHandler handler) {
    return m_platform.startNotices(std::move(handler));
}

void PlatformNoticeSource::stopNotices() {
    m_platform.stopNotices();
}
