#pragma once

#include "resources/DialogTemplate.h"

// Dialog 130, the settings dialog, and the ids of its controls.
inline constexpr int SettingsDialogId = 130;

namespace SettingsControl {
inline constexpr int BaudRate = 1008;
inline constexpr int Parity = 1009;
inline constexpr int StopBits = 1010;
inline constexpr int DataBits = 1011;
inline constexpr int FlowControl = 1012;
inline constexpr int Version = 1015;
inline constexpr int Gpio0Mode = 1016;
inline constexpr int Gpio1Mode = 1017;
inline constexpr int TxMode = 1018;
inline constexpr int ToggleReset = 1045;
} // namespace SettingsControl

const DialogTemplate& SettingsDialogTemplate();
