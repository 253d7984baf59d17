#pragma once

#include "device/WendrakeTypes.h"

#include <QString>

class HidPlatform;

// Why no adapter could be opened, asked of the platform when a connect fails: the detail texts
// under "No device selected" and "Error connecting to device" (see AdapterAccessDetail).
class AccessExplanation {
public:
    explicit AccessExplanation(HidPlatform& platform) : m_platform(platform) {}

    QString noDeviceDetail() const;
    QString connectFailedDetail(WendrakeStatus status) const;

private:
    HidPlatform& m_platform;
};
