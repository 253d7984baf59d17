#pragma once

#include "device/WendrakeTypes.h"

#include <QString>

#include <optional>

// The status line of a connected adapter: "CONNECTED  -  " and its UART configuration spelt out,
// or the settings error when the configuration could not be read.
QString ConnectionStatusText(const std::optional<UartConfig>& uart);
// The status line while not connected: "NOT CONNECTED", and the adapter waited for when one is
// (automatic reconnect).
QString NotConnectedStatusText(const QString& waitingFor);
