#include "connection/FileSender.h"

#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/TestBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include <sys/file.h>

// The worker against an emulated adapter: what reaches the wire, and the state each end leaves.

namespace {

using namespace std::chrono_literals;
using Kind = EmulatedHidPlatform::WireRecord::Kind;
constexpr int WaitBoundMs = 5000;

// Stalls the stream from the n-th report write on, so a stop lands mid-file every time.
class StallingPlatform : public EmulatedHidPlatform {
public:
    std::atomic<unsigned> stallFrom{0};
    std::atomic<unsigned> writes{0};

    TransferOutcome writeReport(HidHandle handle, const std::uint8_t* data, std::size_t length,
                                std::uint32_t timeoutMs) override {
        if (++writes == stallFrom)
            StallWrites(true);
        return EmulatedHidPlatform::writeReport(handle, data, length, timeoutMs);
    }
};

class FileSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(wendrake.Connect(0), WendrakeOk);
        platform.ClearWire();
    }

    QString writeFile(const QString& name, const QByteArray& data) {
        return ::writeFile(dir, name, data);
    }

    std::vector<std::uint8_t> outputIds() const {
        std::vector<std::uint8_t> ids;
        for (const auto& record : platform.Wire())
            if (record.kind == Kind::OutputReport)
                ids.push_back(record.reportId);
        return ids;
    }

    QByteArray sentBytes() const { return bytes(adapter.UartOutput()); }

    bool waitForBufferReleased() {
        return QTest::qWaitFor([&] { return !sender.HasBuffer(); }, WaitBoundMs);
    }

    QTemporaryDir dir;
    StallingPlatform platform;
    AdapterFirmware& adapter = platform.AddAdapter("WD000001");
    CWendrake wendrake{platform};
    FileSender sender{wendrake};
};

TEST_F(FileSenderTest, CompleteTransferSendsEveryByteInFullReports) {
    const QByteArray data = pattern(150);
    ASSERT_EQ(sender.Open(writeFile("a.bin", data)), FileSender::OpenResult::Ok);
    EXPECT_TRUE(sender.IsFileOpen());
    EXPECT_EQ(sender.Length(), 150u);
    EXPECT_EQ(sender.Progress().load(), 0u);
    ASSERT_TRUE(sender.Start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sender.Progress() == 150u; }, WaitBoundMs));
    EXPECT_TRUE(waitForBufferReleased());
    EXPECT_EQ(outputIds(), (std::vector<std::uint8_t>{0xC0, 0xC0, 0x96}));
    EXPECT_EQ(sentBytes(), data);
    for (const auto& record : platform.Wire())
        EXPECT_EQ(record.length, 65u);

    sender.Finish();
    EXPECT_EQ(sender.Progress().load(), 0u);
    EXPECT_FALSE(sender.HasBuffer());
    EXPECT_FALSE(sender.IsFileOpen());
}

TEST_F(FileSenderTest, FailedReportStallsBelowTheTotalAndReleasesTheBuffer) {
    ASSERT_EQ(sender.Open(writeFile("a.bin", pattern(150))), FileSender::OpenResult::Ok);
    platform.FailNthWrite(2);
    ASSERT_TRUE(sender.Start());
    EXPECT_TRUE(waitForBufferReleased());
    EXPECT_EQ(sender.Progress().load(), 64u);
    EXPECT_EQ(outputIds(), (std::vector<std::uint8_t>{0xC0, 0xC0}));
    EXPECT_EQ(sentBytes(), pattern(64));
    sender.Finish();
    EXPECT_EQ(sender.Progress().load(), 0u);
    EXPECT_FALSE(sender.IsFileOpen());
}

TEST_F(FileSenderTest, StopWakesAPendingReportAndSendsNothingMore) {
    ASSERT_EQ(sender.Open(writeFile("a.bin", pattern(1000))), FileSender::OpenResult::Ok);
    platform.StallWrites(true);
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
    sender.Stop();
    EXPECT_FALSE(sender.HasBuffer());
    EXPECT_EQ(sender.Progress().load(), 0u);
    platform.StallWrites(false);
    sender.Finish();
    EXPECT_FALSE(sender.IsFileOpen());

    // The stream is not left stopped: a typed send and a new transfer go through. The typed
    // byte is the first report on the wire: nothing of the stopped file came before it.
    const std::uint8_t typed[] = {0x41};
    EXPECT_EQ(wendrake.WriteUart(typed, 1, nullptr, 2000), WendrakeOk);
    EXPECT_EQ(outputIds(), (std::vector<std::uint8_t>{0x81}));
    ASSERT_EQ(sender.Open(writeFile("b.bin", pattern(10))), FileSender::OpenResult::Ok);
    ASSERT_TRUE(sender.Start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sender.Progress() == 10u; }, WaitBoundMs));
    sender.Finish();
    EXPECT_EQ(sentBytes(), QByteArray("A") + pattern(10));
}

TEST_F(FileSenderTest, StopMidwayKeepsTheBytesAlreadySent) {
    // Ten reports go through, then the adapter stalls on the eleventh; Stop ends it there.
    ASSERT_EQ(sender.Open(writeFile("a.bin", pattern(64 * 100))), FileSender::OpenResult::Ok);
    platform.stallFrom = platform.writes + 11;
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
    sender.Stop();
    platform.StallWrites(false);
    EXPECT_EQ(sender.Progress().load(), 640u);
    EXPECT_EQ(sentBytes(), pattern(640));
    EXPECT_EQ(outputIds().size(), 10u);
    sender.Finish();
}

TEST_F(FileSenderTest, StopThenDisconnectDuringATransferIsSafe) {
    // The order of the window's tear-down: stop and join the worker, then close the adapter.
    ASSERT_EQ(sender.Open(writeFile("a.bin", pattern(5000))), FileSender::OpenResult::Ok);
    platform.StallWrites(true);
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
    sender.Stop();
    EXPECT_EQ(wendrake.Disconnect(), WendrakeOk);
    EXPECT_FALSE(sender.HasBuffer());
    sender.Stop(); // a second stop, as Cancel after the disconnect, is harmless
    sender.Finish();
    EXPECT_EQ(sender.Progress().load(), 0u);
}

TEST_F(FileSenderTest, UnplugDuringATransferStopsBelowTheTotal) {
    ASSERT_EQ(sender.Open(writeFile("a.bin", pattern(5000))), FileSender::OpenResult::Ok);
    platform.StallWrites(true);
    ASSERT_TRUE(sender.Start());
    ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
    platform.Unplug(adapter);
    EXPECT_TRUE(waitForBufferReleased());
    EXPECT_LT(sender.Progress().load(), 5000u);
    sender.Finish();
}

TEST_F(FileSenderTest, DestroyingARunningSenderWaitsForTheWorker) {
    auto running = std::make_unique<FileSender>(wendrake);
    ASSERT_EQ(running->Open(writeFile("a.bin", pattern(5000))), FileSender::OpenResult::Ok);
    platform.StallWrites(true);
    ASSERT_TRUE(running->Start());
    ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
    running.reset();
    EXPECT_EQ(platform.PendingWrites(), 0u);
}

TEST_F(FileSenderTest, OpenFailuresLeaveNothingBehind) {
    struct Case {
        const char* Name;
        QString Path;
        FileSender::OpenResult Expected;
    };
    const NamedPipe pipe(dir.filePath("pipe"));
    ASSERT_TRUE(pipe.made());
    const Case cases[] = {
        {"missing", dir.filePath("missing.bin"), FileSender::OpenResult::OpenFailed},
        {"directory", dir.path(), FileSender::OpenResult::OpenFailed},
        {"empty", writeFile("empty.bin", {}), FileSender::OpenResult::ReadFailed},
        // Not regular files: refused without waiting for a writer or reading forever.
        {"named pipe", pipe.path(), FileSender::OpenResult::OpenFailed},
        {"character device", QStringLiteral("/dev/null"), FileSender::OpenResult::OpenFailed},
        {"endless device", QStringLiteral("/dev/zero"), FileSender::OpenResult::OpenFailed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sender.Open(c.Path), c.Expected) << c.Name;
        EXPECT_FALSE(sender.IsFileOpen()) << c.Name;
        EXPECT_FALSE(sender.HasBuffer()) << c.Name;
        EXPECT_FALSE(sender.Start()) << c.Name;
    }
    EXPECT_FALSE(pipe.rescued()) << "the open waited for a writer";
    EXPECT_TRUE(outputIds().empty());
}

TEST_F(FileSenderTest, LinkToARegularFileIsSent) {
    const QString target = writeFile("target.bin", pattern(10));
    const QString link = dir.filePath("link.bin");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_EQ(sender.Open(link), FileSender::OpenResult::Ok);
    EXPECT_EQ(sender.Length(), 10u);
    ASSERT_TRUE(sender.Start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sender.Progress() == 10u; }, WaitBoundMs));
    sender.Finish();
    EXPECT_EQ(sentBytes(), pattern(10));
}

TEST_F(FileSenderTest, FileHeldByAnotherProgramCannotBeOpened) {
    const QString path = writeFile("held.bin", pattern(10));
    QFile other(path);
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(sender.Open(path), FileSender::OpenResult::OpenFailed);
    EXPECT_FALSE(sender.IsFileOpen());
    other.close();
    EXPECT_EQ(sender.Open(path), FileSender::OpenResult::Ok);
    // And ours is held for the transfer: another open is refused now.
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_NE(::flock(again.handle(), LOCK_EX | LOCK_NB), 0);
    sender.Finish();
    EXPECT_EQ(::flock(again.handle(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(FileSenderTest, FilesOfFourGibibytesAreRefused) {
    const QString path = dir.filePath("huge.bin");
    QFile huge(path);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    // Sparse: no disk space is used.
    if (!huge.resize(qint64(1) << 32))
        GTEST_SKIP() << "file system without 4 GiB sparse files";
    huge.close();
    EXPECT_EQ(sender.Open(path), FileSender::OpenResult::TooLarge);
    EXPECT_FALSE(sender.IsFileOpen());
    EXPECT_FALSE(sender.HasBuffer());
}

} // namespace
