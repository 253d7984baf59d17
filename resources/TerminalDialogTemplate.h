#pragma once

#include "resources/DialogTemplate.h"

// Dialog 102, the terminal window, and the ids of its controls.
inline constexpr int TerminalDialogId = 102;
inline constexpr const char* TerminalWindowTitle = "Orvellan Wendrake Terminal";

namespace TerminalControl {
inline constexpr int ReceiveView = 1001;
inline constexpr int TransferBox = 1003;
inline constexpr int SendData = 1004;
inline constexpr int AsciiFormat = 1005;
inline constexpr int HexFormat = 1006;
inline constexpr int Connect = 1007;
inline constexpr int Gpio0Action = 1016;
inline constexpr int Gpio1Action = 1017;
inline constexpr int SetPinStates = 1029;
inline constexpr int AdapterList = 1030;
inline constexpr int StatusLine = 1031;
inline constexpr int ViewFifoStatus = 1032; // command only, no control
inline constexpr int PurgeFifo = 1033;      // command only, no control
inline constexpr int SendFile = 1035;
inline constexpr int BrowseReceiveFile = 1038;
inline constexpr int ReceiveFile = 1039;
inline constexpr int Capture = 1042;
inline constexpr int ClearReceiveData = 1044;
inline constexpr int Gpio0Label = 1048;
inline constexpr int Gpio1Label = 1049;
inline constexpr int Gpio0State = 1050;
inline constexpr int Gpio1State = 1051;
inline constexpr int Q3ResetState = 1052;
inline constexpr int Q3ResetAction = 1056;
} // namespace TerminalControl

const DialogTemplate& TerminalDialogTemplate();
