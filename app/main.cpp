#include "app/CWendrakeTerminalApp.h"
#include "app/CommandLine.h"
#include "app/ProgramIdentity.h"
#include "device/platform/HidrawPlatform.h"
#include "dialogs/QtUserPrompts.h"

#include <QApplication>

#include <cstdio>
#include <memory>

// Wendrake Terminal on the adapters attached through the kernel's hidraw driver.
int main(int argc, char** argv) {
    const CommandLine::Outcome options = CommandLine::Parse("wendrake-terminal", argc, argv);
    if (!options.RunWindow) {
        std::fputs(options.Output.c_str(), options.ExitCode == 0 ? stdout : stderr);
        return options.ExitCode;
    }
    QApplication application(argc, argv);
    ProgramIdentity::Terminal().Apply();
    CWendrakeTerminalApp terminal(std::make_unique<HidrawPlatform>(),
                                  std::make_unique<QtUserPrompts>());
    terminal.InitInstance();
    return 0;
}
