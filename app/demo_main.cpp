#include "app/CWendrakeTerminalApp.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/QtUserPrompts.h"

#include <QApplication>

#include <memory>

// Wendrake Terminal on one emulated adapter whose UART is looped back: what is sent comes back.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    auto platform = std::make_unique<EmulatedHidPlatform>();
    platform->AddAdapter("WDK-DEMO-0001").SetLoopback(true);
    CWendrakeTerminalApp terminal(std::move(platform), std::make_unique<QtUserPrompts>());
    terminal.InitInstance();
    return 0;
}
