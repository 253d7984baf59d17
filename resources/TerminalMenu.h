#pragma once

#include "resources/DialogTemplate.h"

// Menu 129 of the terminal window and the ids of its items.
inline constexpr int TerminalMenuId = 129;

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

const MenuBarTemplate& TerminalMenu();
