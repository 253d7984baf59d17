#pragma once

#include <QApplication>

// Busy cursor for the length of a connect, a disconnect or a typed send; message boxes get the
// normal one back (see TerminalPrompts).
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
