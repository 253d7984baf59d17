#pragma once

// The ids of the terminal window's menu items: the one place they are defined, for the menu
// template, the window's commands and the settings file's check marks.
namespace TerminalMenuItem {
inline constexpr int Clear = 32771;
inline constexpr int SaveAsciiData = 32772;
inline constexpr int SaveHexData = 32773;
inline constexpr int Connect = 32774;
inline constexpr int Exit = 32775;
inline constexpr int Settings = 32776;
inline constexpr int ViewFifoStatus = 32777;
inline constexpr int PurgeFifo = 32778;
inline constexpr int About = 32779;
inline constexpr int Help = 32780;
inline constexpr int ClearSentTransferData = 32781;
inline constexpr int AutoSendTransferText = 32782;
// Beyond the original menu: find, view options, line ending and reconnect.
inline constexpr int Find = 32790;
inline constexpr int FindNext = 32791;
inline constexpr int FindPrevious = 32792;
inline constexpr int FollowNewData = 32793;
inline constexpr int HoldWhileReading = 32794;
inline constexpr int ShowTimestamps = 32795;
inline constexpr int HexDumpLayout = 32796;
inline constexpr int LineEndingNone = 32797;
inline constexpr int LineEndingCr = 32798;
inline constexpr int LineEndingLf = 32799;
inline constexpr int LineEndingCrLf = 32800;
inline constexpr int AutoReconnect = 32801;
} // namespace TerminalMenuItem
