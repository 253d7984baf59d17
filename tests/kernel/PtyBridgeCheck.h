#pragma once

#include <string>

class UhidAdapterProcess;

// Runs the wendrake program's pty bridge on an adapter of its own and uses the link as other
// serial programs do: a termios rate change followed onto the adapter (also after the client
// cleared the bridge's EXTPROC), 64 KiB looped through the adapter and back in order, and the
// adapter's settings given back when SIGTERM ends the bridge.
void checkPtyBridge(UhidAdapterProcess& uhid, const std::string& wendrake);
