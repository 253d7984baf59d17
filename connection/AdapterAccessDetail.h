#pragma once

#include "device/WendrakeTypes.h"
#include "device/platform/HidPlatform.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

// The detail text under "No device selected" and "Error connecting to device": which adapter
// nodes exist but cannot be opened, why (permission, or another program), and what to do.
class AdapterAccessDetail {
public:
    static constexpr const char* RuleFileName = "70-wendrake-terminal.rules";

    // Why one adapter cannot be opened, without its path: "another program has this adapter
    // open".
    static QString ReasonText(const HidAccessProblem& problem);
    // What a failed connect handshake means: "The adapter refused the connection."
    static QString StatusText(WendrakeStatus status);

    // Where udev looks for rules, in its own order of precedence.
    static QStringList RuleFolders();
    // The adapter's rule as installed, or empty when none of the folders has it.
    static QString InstalledRule(const QStringList& folders = RuleFolders());

    // problems nullopt: the platform cannot tell, so there is no detail to give. ruleFile: the
    // installed rule, or empty.
    static QString NoDeviceDetail(const std::optional<std::vector<HidAccessProblem>>& problems,
                                  const QString& ruleFile);
    // systemError: the platform's last failure, shown unless the open itself failed (then the
    // walk over other interfaces may have left it, and the problems say more).
    static QString ConnectFailedDetail(WendrakeStatus status,
                                       const std::optional<std::vector<HidAccessProblem>>& problems,
                                       const std::string& systemError, const QString& ruleFile);

private:
    static QString problemsText(const std::vector<HidAccessProblem>& problems,
                                const QString& ruleFile);
};
