#pragma once

#include "tests/support/ChildPrograms.h"

#include "bridge/Bridge.h"
#include "tests/support/FakeAdapterPort.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A bridge over a fake adapter port, and real serial clients run as programs beside it. The
// test's event loop runs the bridge while a client runs; every wait has a generous bound.
class BridgeFixture : public ::testing::Test {
protected:
    static constexpr int ClientBoundMs = 60000;

    struct Client {
        std::unique_ptr<QProcess> process;
        QByteArray out;
        QByteArray err;
        int exitCode = -1;
    };

    FakeAdapterPort port;
    Bridge bridge{port};
    QTemporaryDir dir;

    // Skips the test when a client program is missing on this machine.
    static bool have(const QString& program) {
        return !QStandardPaths::findExecutable(program).isEmpty();
    }

    // Starts a client whose input stays open for the test to write to.
    std::unique_ptr<QProcess> start(const QString& program, const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        process->start(program, args);
        EXPECT_TRUE(process->waitForStarted(ClientBoundMs)) << program.toStdString();
        return process;
    }

    Client finish(std::unique_ptr<QProcess> process) {
        QProcess* p = process.get();
        EXPECT_TRUE(
            QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, ClientBoundMs))
            << "client still running";
        Client c;
        c.out = p->readAllStandardOutput();
        c.err = p->readAllStandardError();
        c.exitCode = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
        c.process = std::move(process);
        return c;
    }

    Client run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
        auto process = start(program, args);
        process->write(input);
        process->closeWriteChannel();
        return finish(std::move(process));
    }

    // Debian's python3 with its python3-serial, ahead of any other python3 on the path.
    static QString python3() {
        static const QString found = [] {
            for (const QString& candidate :
                 {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
                QProcess probe;
                probe.start(candidate, {"-c", "import serial"});
                if (probe.waitForFinished(ClientBoundMs) &&
                    probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                    return candidate;
            }
            return QString();
        }();
        return found;
    }

    // A pyserial script with the port's URL or path in sys.argv[1] and more arguments after it.
    Client python(const QString& script, const QStringList& args) {
        return run(python3(), QStringList{"-c", script} + args);
    }
};
