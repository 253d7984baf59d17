#include "connection/AdapterAccessDetail.h"

#include "common/LogCategories.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

bool has(const std::vector<HidAccessProblem>& problems, HidAccessProblem::Reason reason) {
    return std::any_of(problems.begin(), problems.end(),
                       [&](const HidAccessProblem& p) { return p.Why == reason; });
}

QString problemLine(const HidAccessProblem& problem) {
    return QString::fromStdString(problem.Path) + QStringLiteral(": ") +
           AdapterAccessDetail::ReasonText(problem) + QLatin1Char('.');
}

} // namespace

QString AdapterAccessDetail::ReasonText(const HidAccessProblem& problem) {
    switch (problem.Why) {
    case HidAccessProblem::Reason::Permission:
        return QStringLiteral("you may not open this adapter (") + errnoText(problem.Error) +
               QLatin1Char(')');
    case HidAccessProblem::Reason::InUse:
        return QStringLiteral("another program has this adapter open");
    case HidAccessProblem::Reason::Other:
        break;
    }
    return QStringLiteral("this adapter cannot be opened (") + errnoText(problem.Error) +
           QLatin1Char(')');
}

QString AdapterAccessDetail::StatusText(WendrakeStatus status) {
    switch (status) {
    case WendrakeOpenFailed:
        return QStringLiteral("The adapter could not be opened.");
    case WendrakeCommandFailed:
        return QStringLiteral("The adapter did not answer the connect handshake.");
    case WendrakeModeRefused:
        return QStringLiteral("The adapter refused the connection.");
    case WendrakeUnsupportedDevice:
        return QStringLiteral(
            "The device's report sizes do not fit the adapter's commands and data reports.");
    default:
        break;
    }
    return QStringLiteral("The connection failed with status %1.").arg(int(status));
}

QStringList AdapterAccessDetail::RuleFolders() {
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
            QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
            QStringLiteral("/lib/udev/rules.d")};
}

QString AdapterAccessDetail::InstalledRule(const QStringList& folders) {
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(RuleFileName));
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString AdapterAccessDetail::problemsText(const std::vector<HidAccessProblem>& problems,
                                          const QString& ruleFile) {
    QStringList lines;
    for (const HidAccessProblem& problem : problems)
        lines << problemLine(problem);
    if (has(problems, HidAccessProblem::Reason::Permission)) {
        lines << QString();
        if (!ruleFile.isEmpty()) {
            lines << QStringLiteral("The udev rule %1 gives the user at this computer's screen, "
                                    "and the members of the group plugdev, access to the "
                                    "adapter. Unplug and replug the adapter; if it is still "
                                    "refused, log out and in again. Logged in from elsewhere? "
                                    "Join the group with \"sudo usermod -aG plugdev $USER\" and "
                                    "log in again.")
                         .arg(ruleFile);
        } else {
            lines << QStringLiteral("No udev rule gives you access to the adapter. Install the "
                                    "wendrake-terminal package, or copy its rule %1 into "
                                    "/etc/udev/rules.d/, then unplug and replug the adapter.")
                         .arg(QString::fromLatin1(RuleFileName));
        }
    }
    if (has(problems, HidAccessProblem::Reason::InUse)) {
        lines << QString();
        lines << QStringLiteral("Close the other program (another Wendrake Terminal, for "
                                "example), then unplug and replug the adapter so that it is "
                                "listed again.");
    }
    return lines.join(QLatin1Char('\n'));
}

QString
AdapterAccessDetail::NoDeviceDetail(const std::optional<std::vector<HidAccessProblem>>& problems,
                                    const QString& ruleFile) {
    if (!problems)
        return {};
    if (problems->empty())
        return QStringLiteral("No Wendrake adapter (USB e7a2:4d15) is plugged in.");
    return QStringLiteral("Adapters are plugged in, but none can be opened:\n\n") +
           problemsText(*problems, ruleFile);
}

QString AdapterAccessDetail::ConnectFailedDetail(
    WendrakeStatus status, const std::optional<std::vector<HidAccessProblem>>& problems,
    const std::string& systemError, const QString& ruleFile) {
    QString text = StatusText(status);
    if (status == WendrakeOpenFailed) {
        if (problems && !problems->empty())
            text += QStringLiteral("\n\n") + problemsText(*problems, ruleFile);
        else if (problems)
            text += QStringLiteral(" It may have been unplugged.");
        return text;
    }
    if (!systemError.empty())
        text += QStringLiteral("\n\nSystem error: ") + QString::fromStdString(systemError);
    return text;
}
