#include "app/ProgramIdentity.h"

#include <QGuiApplication>

ProgramIdentity ProgramIdentity::Terminal() {
    return {QStringLiteral("wendrake-terminal"), QStringLiteral("org.wendrake.Terminal")};
}

ProgramIdentity ProgramIdentity::Demo() {
    return {QStringLiteral("wendrake-terminal-demo"), QStringLiteral("org.wendrake.Terminal.Demo")};
}

void ProgramIdentity::Apply() const {
    // Qt takes the X11 window class from the application name, which would otherwise follow
    // whatever name the executable was started under.
    QCoreApplication::setApplicationName(ProgramName);
    QGuiApplication::setDesktopFileName(DesktopFileName);
}
