#pragma once

// The exit statuses of wendrake, as its manual page lists them.
namespace ExitStatus {
inline constexpr int Ok = 0;
inline constexpr int DeviceFailure = 1; // the adapter refused or failed a command or a transfer
inline constexpr int Usage = 2;         // the command line, or a request the adapter cannot do
inline constexpr int NoAdapter = 3;     // none attached, or none with the serial given
inline constexpr int NoPermission = 4;  // this user may not open the adapter
inline constexpr int InUse = 5;         // another program has the adapter open
inline constexpr int TimedOut = 6;      // recv: fewer bytes than --count within --timeout
inline constexpr int FileError = 7;     // an input or output file could not be read or written
// send ended by Ctrl-C or SIGTERM before the end, or recv before --count bytes
inline constexpr int Interrupted = 130;
} // namespace ExitStatus
