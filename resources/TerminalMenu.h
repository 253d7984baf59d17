#pragma once

#include "resources/DialogTemplate.h"
#include "resources/TerminalMenuItems.h"

// Menu 129 of the terminal window.
inline constexpr int TerminalMenuId = 129;

const MenuBarTemplate& TerminalMenu();
