#pragma once

#include <QLoggingCategory>

// wendrake.bridge: clients coming and going, refused clients and broken client input. Info and
// above are on by default, so a bridge run shows them on stderr.
Q_DECLARE_LOGGING_CATEGORY(lcBridge)
