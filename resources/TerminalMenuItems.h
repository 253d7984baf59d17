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
} // namespace TerminalMenuItem
