#include "bridge/BridgeLog.h"

Q_LOGGING_CATEGORY(lcBridge, "wendrake.bridge", QtInfoMsg)
