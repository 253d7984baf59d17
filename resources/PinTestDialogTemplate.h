#pragma once

#include "resources/DialogTemplate.h"

// Dialog 135, the Suspend and VPPCTL pin test, and the ids of its controls.
inline constexpr int PinTestDialogId = 135;

namespace PinTestControl {
inline constexpr int Done = IdCancel;
inline constexpr int SetPinStates = 1029;
inline constexpr int SuspendAction = 1019;
inline constexpr int SuspendLabel = 1048;
inline constexpr int VppctlLabel = 1049;
inline constexpr int SuspendLevel = 1050;
inline constexpr int VppctlLevel = 1051;
inline constexpr int VppctlAction = 1053;
} // namespace PinTestControl

const DialogTemplate& PinTestDialogTemplate();
