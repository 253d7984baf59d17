#include "cli/ExitStatus.h"
#include "tests/support/ChildPrograms.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <string>

// The program itself, as a shell runs it, on the --demo adapter: status, standard output and
// standard error, and the bytes through a pipe.

namespace {

struct ProgramRun {
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

ProgramRun runProgram(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(WT_WENDRAKE_PROGRAM), arguments);
    EXPECT_TRUE(process.waitForStarted(10000));
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

TEST(WendrakeProgramTest, RunsEachCommandOnTheDemoAdapterWithItsStatusAndOutput) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    struct Case {
        QStringList Arguments;
        QByteArray Input;
        int Status;
        QByteArray Out;
        QByteArray Err;
    };
    const QByteArray binary("\x00\xff\r\n\x1b[0m\x80\x7f", 10);
    const Case cases[] = {
        {{"--demo", "recv", "--count", "10"}, binary, 0, binary, ""},
        {{"--demo", "recv", "-n", "20", "-t", "1.5"},
         binary,
         ExitStatus::TimedOut,
         binary,
         "wendrake: 10 of 20 bytes received in 1.5 s\n"},
        {{"--demo", "send"}, binary, 0, "", ""},
        {{"--demo", "config", "--baud", "57600", "--stop", "2"},
         "",
         0,
         "baud 57600\nparity none\ndata 8\nstop 2\nflow none\n",
         ""},
        {{"--demo", "fifo", "--purge", "both", "--json"},
         "",
         0,
         "{\"rx\":0,\"serial\":\"WDK-DEMO-0001\",\"tx\":0}\n",
         ""},
        {{"--demo", "-s", "NOPE", "pins"},
         "",
         ExitStatus::NoAdapter,
         "",
         "wendrake: no adapter with serial NOPE is attached (attached: WDK-DEMO-0001)\n"},
        {{"--demo", "config", "--baud", "fast"},
         "",
         ExitStatus::Usage,
         "",
         "wendrake: --baud: 'fast' is not a whole number from 1 to 4294967295\n"},
        {{"--demo", "send", "/nonexistent/file"},
         "",
         ExitStatus::FileError,
         "",
         "wendrake: cannot read /nonexistent/file: No such file or directory\n"},
        {{"--version"}, "", 0, "wendrake " WT_VERSION "\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        const ProgramRun run = runProgram(c.Arguments, c.Input);
        EXPECT_EQ(run.Status, c.Status);
        EXPECT_EQ(run.Out, c.Out);
        EXPECT_EQ(run.Err, c.Err);
    }
}

// Without --count SIGTERM is recv's normal end; short of the count it is an interruption, so a
// script can tell a short read from a full one.
TEST(WendrakeProgramTest, SigtermEndsRecvAfterWhatCameBeforeWithTheStatusOfItsCount) {
    WT_SKIP_WHERE_PROGRAMS_CANNOT_START();
    struct Case {
        QStringList Arguments;
        int Status;
        QByteArray Err;
    };
    const Case cases[] = {
        {{"--demo", "recv"}, 0, ""},
        {{"--demo", "recv", "--count", "100"},
         ExitStatus::Interrupted,
         "wendrake: interrupted after 6 of 100 bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(WT_WENDRAKE_PROGRAM), c.Arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
        process.write("ready\n");
        // Once the bytes fed through the demo adapter are out, recv is in its loop.
        QByteArray out;
        for (int i = 0; i < 300 && !out.contains('\n'); ++i) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        ASSERT_EQ(out, "ready\n");
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.Status);
        EXPECT_EQ(process.readAllStandardError(), c.Err);
    }
}
