#include "app/CWendrakeTerminalApp.h"
#include "device/platform/HidrawPlatform.h"
#include "resources/QtUserPrompts.h"

#include <QApplication>

#include <memory>

// Wendrake Terminal on the adapters attached through the kernel's hidraw driver.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CWendrakeTerminalApp terminal(std::make_unique<HidrawPlatform>(),
                                  std::make_unique<QtUserPrompts>());
    terminal.InitInstance();
    return 0;
}
