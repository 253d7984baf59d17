#include "cli/CliParser.h"
#include "cli/CliRunner.h"
#include "cli/DemoAdapter.h"
#include "cli/SignalWatcher.h"
#include "device/platform/HidrawPlatform.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <memory>

// wendrake: the adapter's UART, pins and FIFOs for scripts and shells.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CliParser::Outcome parsed = CliParser::Parse(arguments);
    if (!parsed.Run) {
        if (!parsed.Output.isEmpty())
            std::fputs(parsed.Output.toLocal8Bit().constData(), stdout);
        if (!parsed.Error.isEmpty())
            std::fprintf(stderr, "%s\n", parsed.Error.toLocal8Bit().constData());
        return parsed.ExitCode;
    }
    const CliRequest& request = parsed.Request;

    // A reader that goes away is a failed write, reported, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered,
             QFileDevice::DontCloseHandle);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered,
             QFileDevice::DontCloseHandle);

    std::unique_ptr<DemoAdapter> demo;
    std::unique_ptr<HidrawPlatform> hidraw;
    HidPlatform* platform = nullptr;
    if (request.Demo) {
        demo = std::make_unique<DemoAdapter>(request.Command == QLatin1String("recv") ? STDIN_FILENO
                                                                                      : -1);
        platform = &demo->Platform();
        // The bridge's clients write as fast as the pty takes it; a real adapter's UART paces
        // its loopback, the emulated one waits for room instead, as in the demo window.
        if (request.Command == QLatin1String("bridge"))
            demo->Platform().SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    } else {
        hidraw = std::make_unique<HidrawPlatform>();
        platform = hidraw.get();
    }

    SignalWatcher watcher;
    CliRunner runner(*platform, {STDIN_FILENO, &out, &err});
    QObject::connect(&watcher, &SignalWatcher::signalled, &runner, &CliRunner::Interrupt);
    return runner.Run(request);
}
