#include "connection/AccessExplanation.h"

#include "connection/AdapterAccessDetail.h"
#include "device/platform/HidPlatform.h"

namespace {

// The rule is looked for only when there are nodes it could have opened.
QString ruleFor(const std::optional<std::vector<HidAccessProblem>>& problems) {
    return problems && !problems->empty() ? AdapterAccessDetail::InstalledRule() : QString();
}

} // namespace

QString AccessExplanation::noDeviceDetail() const {
    const auto problems = m_platform.inaccessibleInterfaces(WendrakeVendorId, WendrakeProductId);
    return AdapterAccessDetail::NoDeviceDetail(problems, ruleFor(problems));
}

QString AccessExplanation::connectFailedDetail(WendrakeStatus status) const {
    // Read first: the look at the nodes below makes failures of its own.
    const std::string systemError = m_platform.lastError();
    const auto problems =
        status == WendrakeOpenFailed
            ? m_platform.inaccessibleInterfaces(WendrakeVendorId, WendrakeProductId)
            : std::nullopt;
    return AdapterAccessDetail::ConnectFailedDetail(status, problems, systemError,
                                                    ruleFor(problems));
}
