#pragma once

#include <QString>

// What a running program tells the desktop about itself: the id of its installed menu entry
// (the Wayland app id) and its window class (X11), which must match that entry's
// StartupWMClass, so that its windows get the entry's icon and group with their launcher.
struct ProgramIdentity {
    QString ProgramName;     // the executable, and the window class
    QString DesktopFileName; // the menu entry's file name without ".desktop"

    static ProgramIdentity Terminal();
    static ProgramIdentity Demo();

    // Sets both on the application; call before the first window is shown.
    void Apply() const;
};
