#pragma once

#include "resources/DialogTemplate.h"

// Dialog 133, the file transfer progress window.
inline constexpr int ProgressDialogId = 133;
inline constexpr int ProgressBarControl = 1040;

const DialogTemplate& ProgressDialogTemplate();
