#pragma once

#include "resources/DialogTemplate.h"

// Dialog 137, the About box.
inline constexpr int AboutDialogId = 137;
inline constexpr int AboutVersionControl = 1054;
inline constexpr const char* ProgramVersion = "1.5.1";

const DialogTemplate& AboutDialogTemplate();
