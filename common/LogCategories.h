#pragma once

#include <QLoggingCategory>
#include <QString>

#include <string_view>

// Diagnostic logging of failing system calls, off unless asked for, e.g.
// QT_LOGGING_RULES="wendrake.*=true". Messages go out at debug level, which these categories
// leave disabled by default.
Q_DECLARE_LOGGING_CATEGORY(lcHidraw) // wendrake.hidraw: hidraw nodes and sysfs
Q_DECLARE_LOGGING_CATEGORY(lcUdev)   // wendrake.udev: arrival and removal notices
Q_DECLARE_LOGGING_CATEGORY(lcFile)   // wendrake.file: settings, capture and sent files

// The system's own words for an errno value ("Permission denied").
QString errnoText(int error);

// "<call> <subject>: <reason>", the one form of every failure line.
void logFailure(const QLoggingCategory& category, std::string_view call, const QString& subject,
                const QString& reason);
// The same with the errno text as the reason.
void logSystemFailure(const QLoggingCategory& category, std::string_view call,
                      std::string_view subject, int error);
