#pragma once

#include "cli/CliParser.h"
#include "cli/CliRunner.h"
#include "emulator/EmulatedHidPlatform.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// One run of wendrake in-process on an emulated platform: the arguments as a shell would pass
// them, standard output and error caught, the exit status.
struct CliResult {
    int Status = -1;
    QByteArray Out;
    QString Err;
};

class CliFixture : public ::testing::Test {
protected:
    CliFixture() { platform.SetAccessProblemsReported(true); }

    // during: asked every few ms while the command runs, until it answers true (Ctrl-C, say).
    using During = std::function<bool(CliRunner&)>;

    CliResult run(const QStringList& arguments, int inputFd = -1, During during = {}) {
        CliResult result;
        const CliParser::Outcome parsed = CliParser::Parse(arguments);
        if (!parsed.Run) {
            result.Status = parsed.ExitCode;
            result.Out = parsed.Output.toUtf8();
            result.Err = parsed.Error.isEmpty() ? QString() : parsed.Error + QLatin1Char('\n');
            return result;
        }
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        CliRunner runner(platform, {inputFd, &out, &err});
        QTimer poll;
        if (during) {
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (during(runner))
                    poll.stop();
            });
            poll.start(5);
        }
        result.Status = runner.Run(parsed.Request);
        result.Out = out.data();
        result.Err = QString::fromUtf8(err.data());
        return result;
    }

    // The wire record from the connect handshake's first report on.
    std::vector<std::string> wire() const { return platform.WireSummary(); }

    EmulatedHidPlatform platform;
};
