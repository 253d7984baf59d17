#include "dialogs/CProgressDlg.h"
#include "dialogs/DialogBuilder.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/WindowFixture.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <sys/file.h>

// "Send File..." through the real window against an emulated adapter: the prompts, the bytes on
// the wire and the state each of the three ends leaves behind.

namespace {

using namespace std::chrono_literals;
namespace Id = TerminalControl;
using Kind = EmulatedHidPlatform::WireRecord::Kind;
constexpr int WaitBoundMs = 5000;

class FileSendTest : public WindowFixture<> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        openWindow();
        window->show();
    }

    QString writeFile(const QString& name, const QByteArray& data) {
        return ::writeFile(dir, name, data);
    }

    // Runs action on the progress window once it is up (the click below blocks in its modal run).
    // The returned watch may be deleted when no window is expected.
    QTimer* whileProgressShown(std::function<void(CProgressDlg&)> action) {
        auto* poll = new QTimer(window.get());
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, window.get(), [poll, action] {
            if (auto* dialog = qobject_cast<CProgressDlg*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                action(*dialog);
            }
        });
        poll->start();
        return poll;
    }

    static void pressCancel(CProgressDlg& dialog) {
        QTest::mouseClick(DialogBuilder::control(&dialog, IdCancel), Qt::LeftButton);
    }

    // Picks the file in the (scripted) file dialog and presses "Send File...".
    void sendFile(const QString& path) {
        prompts.FileAnswers.push_back(path);
        button(Id::SendFile)->click();
    }

    QByteArray sentBytes() const { return bytes(adapter.UartOutput()); }

    std::size_t outputReportCount() const {
        std::size_t count = 0;
        for (const auto& record : platform.Wire())
            count += record.kind == Kind::OutputReport ? 1 : 0;
        return count;
    }

    // Every end: counter 0, no block, file closed (another program may lock it again).
    void expectCleanEnd(const QString& path) {
        FileSender& transfer = window->FileTransfer();
        EXPECT_EQ(transfer.Progress().load(), 0u);
        EXPECT_FALSE(transfer.HasBuffer());
        EXPECT_EQ(transfer.Length(), 0u);
        EXPECT_FALSE(transfer.IsFileOpen());
        EXPECT_FALSE(transfer.IsStarted());
        QFile other(path);
        ASSERT_TRUE(other.open(QIODevice::ReadOnly));
        EXPECT_EQ(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
    }

    void expectOnlyPrompt(const QString& text, const QString& caption) const {
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, text);
        EXPECT_EQ(prompts.Prompts[0].Caption, caption);
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Exclamation);
        EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::Ok);
    }

    AdapterFirmware& adapter = addAdapter("WD000001");
};

TEST_F(FileSendTest, CompleteTransferReportsSuccess) {
    connect();
    const QByteArray data = pattern(64 * 40 + 7);
    const QString path = writeFile("a.bin", data);
    sendFile(path);

    ASSERT_EQ(prompts.FileRequests.size(), 1u);
    const FileDialogRequest& request = prompts.FileRequests[0];
    EXPECT_FALSE(request.Save);
    EXPECT_EQ(request.InitialName, QString());
    EXPECT_EQ(request.Filter, QStringLiteral("All Files (*.*)"));

    expectOnlyPrompt(QStringLiteral("File transferred successfully"), QStringLiteral("Notice"));
    EXPECT_EQ(sentBytes(), data);
    EXPECT_EQ(outputReportCount(), 41u);
    expectCleanEnd(path);
}

TEST_F(FileSendTest, BothFormatsSendTheFilesBytesUnchanged) {
    connect();
    const QString path = writeFile("41.txt", "41");
    sendFile(path);
    button(Id::HexFormat)->click();
    sendFile(path);
    EXPECT_EQ(sentBytes(), QByteArray("4141"));
    EXPECT_EQ(prompts.Prompts.size(), 2u);
}

TEST_F(FileSendTest, FailingReportStallsUntilCancel) {
    connect();
    const QString path = writeFile("a.bin", pattern(1000));
    platform.FailNthWrite(3);
    QString titleAtCancel;
    whileProgressShown([&](CProgressDlg& dialog) {
        // The worker ends by itself below the total; the window keeps waiting.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !window->FileTransfer().HasBuffer(); }, WaitBoundMs));
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.windowTitle() == "File Transfer - 12%"; },
                                    WaitBoundMs));
        titleAtCancel = dialog.windowTitle();
        EXPECT_TRUE(dialog.isVisible());
        pressCancel(dialog);
    });
    sendFile(path);
    // 128 of 1000 bytes: 12.8 percent, truncated.
    EXPECT_EQ(titleAtCancel, QStringLiteral("File Transfer - 12%"));
    EXPECT_EQ(sentBytes(), pattern(128));
    EXPECT_TRUE(prompts.Prompts.empty());
    expectCleanEnd(path);
}

TEST_F(FileSendTest, CancelStopsAtOnceAndTheNextSendStartsFromZero) {
    connect();
    const QString path = writeFile("a.bin", pattern(64 * 50));
    platform.StallWrites(true);
    whileProgressShown([&](CProgressDlg& dialog) {
        ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
        pressCancel(dialog);
    });
    sendFile(path);
    platform.StallWrites(false);
    // A typed byte after the cancel is the first and only report: nothing of the file follows.
    const std::uint8_t typed[] = {0x5A};
    ASSERT_EQ(window->Adapter().WriteUart(typed, 1, nullptr, 5000), WendrakeOk);
    EXPECT_EQ(outputReportCount(), 1u);
    EXPECT_EQ(sentBytes(), QByteArray("Z"));
    EXPECT_TRUE(prompts.Prompts.empty());
    expectCleanEnd(path);

    QString firstTitle;
    whileProgressShown([&](CProgressDlg& dialog) { firstTitle = dialog.windowTitle(); });
    sendFile(path);
    EXPECT_EQ(firstTitle, QStringLiteral("File Transfer - 0%"));
    expectOnlyPrompt(QStringLiteral("File transferred successfully"), QStringLiteral("Notice"));
    EXPECT_EQ(sentBytes(), "Z" + pattern(64 * 50));
    expectCleanEnd(path);
}

TEST_F(FileSendTest, FileErrorsAreReportedAndNothingIsSent) {
    connect();
    const QString held = writeFile("held.bin", pattern(10));
    QFile holder(held);
    ASSERT_TRUE(holder.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(holder.handle(), LOCK_EX | LOCK_NB), 0);

    struct Case {
        const char* Name;
        QString Path;
        QString Text;
    };
    const QString empty = writeFile("empty.bin", {});
    const QString missing = dir.filePath("missing.bin");
    const NamedPipe pipe(dir.filePath("pipe"));
    ASSERT_TRUE(pipe.made());
    const Case cases[] = {
        {"empty", empty, QStringLiteral("Error reading file ") + empty},
        {"missing", missing, QStringLiteral("Error opening file ") + missing},
        {"held elsewhere", held, QStringLiteral("Error opening file ") + held},
        {"directory", dir.path(), QStringLiteral("Error opening file ") + dir.path()},
        {"named pipe", pipe.path(), QStringLiteral("Error opening file ") + pipe.path()},
        {"device", QStringLiteral("/dev/zero"), QStringLiteral("Error opening file /dev/zero")},
    };
    for (const Case& c : cases) {
        prompts.Prompts.clear();
        QTimer* watch = whileProgressShown([&](CProgressDlg& dialog) {
            ADD_FAILURE() << c.Name << ": progress window shown";
            dialog.reject();
        });
        sendFile(c.Path);
        delete watch;
        expectOnlyPrompt(c.Text, QStringLiteral("Error"));
        EXPECT_FALSE(window->FileTransfer().IsFileOpen()) << c.Name;
        EXPECT_FALSE(window->FileTransfer().HasBuffer()) << c.Name;
    }
    // The window's thread never waited for a writer to come to the pipe.
    EXPECT_FALSE(pipe.rescued());
    EXPECT_EQ(outputReportCount(), 0u);
}

TEST_F(FileSendTest, FilesOfFourGibibytesGetAClearMessage) {
    connect();
    const QString path = dir.filePath("huge.bin");
    QFile huge(path);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    if (!huge.resize(qint64(1) << 32))
        GTEST_SKIP() << "file system without 4 GiB sparse files";
    huge.close();
    sendFile(path);
    expectOnlyPrompt(QStringLiteral("File too large to send ") + path, QStringLiteral("Error"));
    EXPECT_EQ(outputReportCount(), 0u);
}

TEST_F(FileSendTest, CancelledFileDialogDoesNothing) {
    connect();
    button(Id::SendFile)->click(); // no scripted answer: the dialog is cancelled
    EXPECT_EQ(prompts.FileRequests.size(), 1u);
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_EQ(outputReportCount(), 0u);
}

TEST_F(FileSendTest, ConnectOfferComesBeforeTheFileDialog) {
    prompts.Answers = {PromptAnswer::No};
    prompts.FileAnswers.push_back(writeFile("a.bin", pattern(10)));
    button(Id::SendFile)->click();
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    EXPECT_EQ(prompts.Prompts[0].Text,
              QStringLiteral("Not connected, would you like to connect now?"));
    EXPECT_EQ(prompts.Prompts[0].Caption, QStringLiteral("Connect"));
    EXPECT_TRUE(prompts.FileRequests.empty());
    EXPECT_FALSE(window->Adapter().IsConnected());

    prompts.Answers = {PromptAnswer::Yes};
    button(Id::SendFile)->click();
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_EQ(prompts.FileRequests.size(), 1u);
    EXPECT_EQ(sentBytes(), pattern(10));
}

TEST_F(FileSendTest, UnplugDuringATransferWaitsForCancel) {
    connect();
    const QString path = writeFile("a.bin", pattern(64 * 100));
    platform.StallWrites(true);
    whileProgressShown([&](CProgressDlg& dialog) {
        ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
        platform.Unplug(adapter);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !window->FileTransfer().HasBuffer(); }, WaitBoundMs));
        // The pin poll notices the loss and disconnects; the progress window stays up.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->Adapter().IsConnected(); }, WaitBoundMs));
        EXPECT_TRUE(dialog.isVisible());
        pressCancel(dialog);
    });
    sendFile(path);
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_LT(sentBytes().size(), 64 * 100);
    expectCleanEnd(path);
}

TEST_F(FileSendTest, DisconnectByAFailedPinPollStopsTheWorkerFirst) {
    connect();
    const QString path = writeFile("a.bin", pattern(64 * 100));
    platform.StallWrites(true);
    whileProgressShown([&](CProgressDlg& dialog) {
        ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
        // The latch read fails: the poll disconnects while the worker waits in a report write.
        platform.FailFeatureReportId(0x4A);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->Adapter().IsConnected(); }, WaitBoundMs));
        EXPECT_FALSE(window->FileTransfer().IsStarted());
        EXPECT_FALSE(window->FileTransfer().HasBuffer());
        EXPECT_EQ(platform.PendingWrites(), 0u);
        EXPECT_TRUE(dialog.isVisible());
        pressCancel(dialog);
    });
    sendFile(path);
    platform.FailFeatureReportId(0x4A, false);
    platform.StallWrites(false);
    EXPECT_EQ(outputReportCount(), 0u);
    EXPECT_TRUE(prompts.Prompts.empty());
    expectCleanEnd(path);
}

TEST_F(FileSendTest, DisconnectFromTheWindowDuringATransferIsSafe) {
    connect();
    const QString path = writeFile("a.bin", pattern(64 * 100));
    platform.StallWrites(true);
    whileProgressShown([&](CProgressDlg& dialog) {
        ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
        window->ToggleConnection();
        EXPECT_FALSE(window->Adapter().IsConnected());
        EXPECT_FALSE(window->FileTransfer().HasBuffer());
        pressCancel(dialog);
    });
    sendFile(path);
    platform.StallWrites(false);
    expectCleanEnd(path);
}

TEST_F(FileSendTest, ClosingTheWindowAfterATransferReleasesEverything) {
    connect();
    const QString path = writeFile("a.bin", pattern(64 * 100));
    platform.StallWrites(true);
    whileProgressShown([&](CProgressDlg& dialog) {
        ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
        dialog.reject();
    });
    sendFile(path);
    platform.StallWrites(false);
    window->reject();
    EXPECT_FALSE(window->Adapter().IsConnected());
    window.reset();
    EXPECT_EQ(platform.PendingWrites(), 0u);
}

// usbhid holds a report write in the kernel and nothing ends it from outside. Cancel, Disconnect
// and Exit still give the window back while the kernel holds the write; the adapter stays open
// until the write has left, and only that one report reaches the adapter when it lets go.
TEST_F(FileSendTest, WriteHeldInTheKernelNeverHoldsTheWindow) {
    enum class Action { Cancel, Disconnect, Exit };
    const AdapterFirmware* firmware = &adapter;
    const EmulatedHidPlatform::DeviceId id = platform.IdOf(*firmware);
    for (const Action action : {Action::Cancel, Action::Disconnect, Action::Exit}) {
        SCOPED_TRACE(static_cast<int>(action));
        if (!window) {
            window = makeWindow(dir.path());
            window->show();
        }
        if (!window->Adapter().IsConnected())
            connect();
        adapter.ClearUartOutput();
        prompts.Prompts.clear();
        platform.SetWritesIgnoreCancel(true);
        platform.StallWrites(true);
        const QString path = writeFile("held.bin", pattern(64 * 20));
        whileProgressShown([&](CProgressDlg& dialog) {
            ASSERT_TRUE(platform.WaitForPendingWrites(1, 5s));
            if (action == Action::Disconnect) {
                window->ToggleConnection();
                EXPECT_FALSE(window->Adapter().IsConnected());
                EXPECT_FALSE(window->FileTransfer().IsStarted());
                EXPECT_TRUE(dialog.isVisible());
            }
            pressCancel(dialog);
        });
        sendFile(path);
        EXPECT_EQ(platform.WritesInKernel(), 1u) << "the window is back, the kernel holds on";
        EXPECT_TRUE(prompts.Prompts.empty());
        expectCleanEnd(path);
        if (action == Action::Exit) {
            window->reject();
            EXPECT_FALSE(window->Adapter().IsConnected());
            // Nothing the held write uses goes with the window.
            window.reset();
        }
        EXPECT_TRUE(platform.IsOpen(id));
        EXPECT_EQ(platform.WritesInKernel(), 1u);

        platform.StallWrites(false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return platform.WritesInKernel() == 0; }, WaitBoundMs));
        EXPECT_EQ(sentBytes(), pattern(64));
        EXPECT_EQ(platform.IsOpen(id), action == Action::Cancel);
        platform.SetWritesIgnoreCancel(false);
    }
}

} // namespace
