#include "common/LogCategories.h"

#include <cstring>

Q_LOGGING_CATEGORY(lcHidraw, "wendrake.hidraw", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUdev, "wendrake.udev", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFile, "wendrake.file", QtWarningMsg)

QString errnoText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

void logFailure(const QLoggingCategory& category, std::string_view call, const QString& subject,
                const QString& reason) {
    if (!category.isDebugEnabled())
        return;
    QMessageLogger().debug(category).noquote().nospace()
        << QString::fromUtf8(call.data(), qsizetype(call.size())) << ' ' << subject << ": "
        << reason;
}

void logSystemFailure(const QLoggingCategory& category, std::string_view call,
                      std::string_view subject, int error) {
    // errno first: building the texts below must not be what it reports.
    if (!category.isDebugEnabled())
        return;
    logFailure(category, call, QString::fromUtf8(subject.data(), qsizetype(subject.size())),
               errnoText(error));
}
