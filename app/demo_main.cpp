#include "app/CWendrakeTerminalApp.h"
#include "app/CommandLine.h"
#include "app/DemoAdapterMenu.h"
#include "app/ProgramIdentity.h"
#include "dialogs/QtUserPrompts.h"
#include "emulator/EmulatedHidPlatform.h"
#include "terminal/CWendrakeTerminalDlg.h"

#include <QApplication>

#include <cstdio>
#include <memory>

// Wendrake Terminal on one emulated adapter whose UART is looped back: what is sent comes back.
int main(int argc, char** argv) {
    const CommandLine::Outcome options = CommandLine::Parse("wendrake-terminal-demo", argc, argv);
    if (!options.RunWindow) {
        std::fputs(options.Output.c_str(), options.ExitCode == 0 ? stdout : stderr);
        return options.ExitCode;
    }
    QApplication application(argc, argv);
    ProgramIdentity::Demo().Apply();
    auto platform = std::make_unique<EmulatedHidPlatform>();
    // The demo runs for hours: keep no record of the traffic. The loopback is as fast as the
    // host, so sends wait for the looped-back reports to be read instead of losing them the way
    // a real UART at some baud rate never would.
    platform->SetWireRecording(false);
    platform->SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    // Its menu plugs in the demo's adapter, and unplugs and replugs it and a second one.
    DemoAdapterMenu demoMenu(*platform);
    // Its own settings: a baud rate or pin mode tried here must never reach a real adapter.
    CWendrakeTerminalApp terminal(std::move(platform), std::make_unique<QtUserPrompts>(),
                                  SettingsFolder::ForProgram(SettingsFolder::DemoFolderName));
    terminal.SetWindowExtras(
        [&demoMenu](CWendrakeTerminalDlg& window) { demoMenu.AddTo(&window); });
    terminal.InitInstance();
    return 0;
}
