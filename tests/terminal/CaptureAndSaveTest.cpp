#include "connection/ReceiveDataFile.h"

#include "tests/support/WindowFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

// Capture to a file and the two save commands of the terminal window: file contents, the
// questions and messages with their captions and icons, and the state of the controls.

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;

const QString CaptureText = QStringLiteral("Capture Receive Data to File");
const QString StopCaptureText = QStringLiteral("Stop Capture and Save File");

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Prompts that can also act while a file dialog is open.
class ActingPrompts : public RecordingPrompts {
public:
    std::function<void()> whileFileDialogOpen;

    std::optional<QString> FileName(QWidget* owner, const FileDialogRequest& request) override {
        if (whileFileDialogOpen)
            whileFileDialogOpen();
        return RecordingPrompts::FileName(owner, request);
    }
};

class CaptureAndSaveTest : public WindowFixture<EmulatedHidPlatform, ActingPrompts> {
protected:
    void SetUp() override { window = makeWindow(dir.filePath("settings")); }

    QLineEdit* nameBox() const {
        return qobject_cast<QLineEdit*>(window->Control(Id::ReceiveFile));
    }
    void receive(const std::string& s) { window->AppendReceivedText(bytes(s)); }

    // Chooses the capture file with "..." and starts the capture.
    void startCapture(const QString& path) {
        prompts.FileAnswers.push_back(path);
        button(Id::BrowseReceiveFile)->click();
        button(Id::Capture)->click();
    }

    void expectCapturing(bool on) const {
        EXPECT_EQ(button(Id::Capture)->text(), on ? StopCaptureText : CaptureText);
        EXPECT_EQ(button(Id::Capture)->isChecked(), on);
        EXPECT_EQ(nameBox()->isEnabled(), !on);
        EXPECT_EQ(button(Id::AsciiFormat)->isEnabled(), !on);
        EXPECT_EQ(button(Id::HexFormat)->isEnabled(), !on);
        EXPECT_TRUE(button(Id::BrowseReceiveFile)->isEnabled());
    }

    void expectPrompt(std::size_t index, const QString& text, const QString& caption,
                      PromptIcon icon, PromptButtons buttons) const {
        ASSERT_GT(prompts.Prompts.size(), index);
        const RecordingPrompts::Prompt& p = prompts.Prompts[index];
        EXPECT_EQ(p.Text, text);
        EXPECT_EQ(p.Caption, caption);
        EXPECT_EQ(p.Icon, icon);
        EXPECT_EQ(p.Buttons, buttons);
    }
};

} // namespace

TEST_F(CaptureAndSaveTest, CaptureWritesTheFormOnScreenAsItArrives) {
    struct Case {
        const char* name;
        bool hex;
        std::string received;
        std::string file;
        std::string asciiText;
    };
    const Case cases[] = {
        {"Hex Format: three characters per byte, trailing space", true, "OK\r\n", "4F 4B 0D 0A ",
         "OK\r\n"},
        {"ASCII Format keeps form feeds and zero bytes", false, std::string("ab\0\fc\rd", 7),
         std::string("ab\0\fc\rd", 7), "c\rd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        button(c.hex ? Id::HexFormat : Id::AsciiFormat)->click();
        button(Id::ClearReceiveData)->click();
        const QString path = dir.filePath(c.hex ? "hex.txt" : "ascii.txt");
        startCapture(path);
        expectCapturing(true);
        receive(c.received);
        // Written through at once: on disk before the capture stops.
        EXPECT_EQ(readFile(path), bytes(c.file));
        EXPECT_EQ(window->AsciiText(), bytes(c.asciiText));
        button(Id::Capture)->click();
        expectCapturing(false);
        receive("after the stop");
        EXPECT_EQ(readFile(path), bytes(c.file));
    }
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(CaptureAndSaveTest, BrowseSetsTheNameAndCancelKeepsIt) {
    EXPECT_EQ(nameBox()->text(), "receive_data.txt");
    const QString chosen = dir.filePath("chosen.txt");
    prompts.FileAnswers.push_back(chosen);
    button(Id::BrowseReceiveFile)->click();
    EXPECT_EQ(nameBox()->text(), chosen);
    prompts.FileAnswers.push_back(std::nullopt);
    button(Id::BrowseReceiveFile)->click();
    EXPECT_EQ(nameBox()->text(), chosen);
    ASSERT_EQ(prompts.FileRequests.size(), 2u);
    for (const FileDialogRequest& request : prompts.FileRequests) {
        EXPECT_TRUE(request.Save);
        EXPECT_EQ(request.InitialName, "receive_data.txt") << "always this name";
        EXPECT_EQ(request.DefaultSuffix, "txt");
        EXPECT_EQ(request.Filter, "*.txt (*.txt)");
        EXPECT_TRUE(request.ConfirmOverwrite);
    }
}

TEST_F(CaptureAndSaveTest, OverwriteQuestionAnsweredNoChangesNothing) {
    const QString path = dir.filePath("exists.txt");
    writeFile(path, "precious");
    prompts.Answers.push_back(PromptAnswer::No);
    startCapture(path);
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    expectPrompt(0, path + " already exists, are you sure you want to overwrite?", "Notice",
                 PromptIcon::Question, PromptButtons::YesNo);
    expectCapturing(false);
    receive("data");
    EXPECT_EQ(readFile(path), "precious");
}

TEST_F(CaptureAndSaveTest, StartingAgainWithTheSameNameAsksAndStartsEmpty) {
    const QString path = dir.filePath("again.txt");
    startCapture(path);
    receive("first");
    button(Id::Capture)->click();
    EXPECT_TRUE(prompts.Prompts.empty()) << "a new file needs no question";

    prompts.Answers.push_back(PromptAnswer::Yes);
    button(Id::Capture)->click();
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    expectPrompt(0, path + " already exists, are you sure you want to overwrite?", "Notice",
                 PromptIcon::Question, PromptButtons::YesNo);
    expectCapturing(true);
    EXPECT_EQ(readFile(path), "");
    receive("second");
    EXPECT_EQ(readFile(path), "second");
}

TEST_F(CaptureAndSaveTest, CaptureFileThatCannotBeCreated) {
    const QString path = dir.filePath("missing/folder/capture.txt");
    startCapture(path);
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    expectPrompt(0, "Error opening file " + path, "Error", PromptIcon::Exclamation,
                 PromptButtons::Ok);
    expectCapturing(false);
}

TEST_F(CaptureAndSaveTest, FailedCaptureWriteEndsCaptureAndKeepsTheData) {
    // /dev/full opens and exists, and every write to it fails as on a full disk.
    prompts.Answers.push_back(PromptAnswer::Yes);
    startCapture(QStringLiteral("/dev/full"));
    expectCapturing(true);
    receive("data\r\n");
    ASSERT_EQ(prompts.Prompts.size(), 2u);
    expectPrompt(1, "Error during file capture, closing file", "Error", PromptIcon::Exclamation,
                 PromptButtons::Ok);
    expectCapturing(false);
    EXPECT_EQ(window->AsciiText(), "data\r\n");
    EXPECT_EQ(window->HexText(), "64 61 74 61 0D 0A ");
    EXPECT_EQ(view()->text(), "data\n");
    receive("more");
    EXPECT_EQ(prompts.Prompts.size(), 2u) << "no further capture writes";
}

TEST_F(CaptureAndSaveTest, ClearDuringCaptureLeavesTheFileGrowing) {
    const QString path = dir.filePath("clear.txt");
    startCapture(path);
    receive("one ");
    window->MenuAction(Menu::Clear)->trigger();
    EXPECT_EQ(window->AsciiText(), "");
    EXPECT_EQ(window->HexText(), "");
    EXPECT_EQ(view()->text(), "");
    expectCapturing(true);
    receive("two");
    EXPECT_EQ(readFile(path), "one two");
    EXPECT_EQ(window->AsciiText(), "two");
}

TEST_F(CaptureAndSaveTest, SaveCommandsWriteTheStoredTexts) {
    struct Case {
        const char* name;
        int menuItem;
        const char* initialName;
        QByteArray expected;
    };
    const Case cases[] = {
        {"ASCII data: after the last form feed", Menu::SaveAsciiData, "ascii_data.txt",
         QByteArray("new\0\r\n", 6)},
        {"hex data: everything since Clear", Menu::SaveHexData, "hex_data.txt",
         "6F 6C 64 0C 6E 65 77 00 0D 0A "},
    };
    receive(std::string("old\fnew\0\r\n", 10));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.FileRequests.clear();
        const QString path = dir.filePath(c.initialName);
        prompts.FileAnswers.push_back(path);
        window->MenuAction(c.menuItem)->trigger();
        EXPECT_EQ(readFile(path), c.expected);
        ASSERT_EQ(prompts.FileRequests.size(), 1u);
        const FileDialogRequest& request = prompts.FileRequests[0];
        EXPECT_TRUE(request.Save);
        EXPECT_EQ(request.InitialName, c.initialName);
        EXPECT_EQ(request.DefaultSuffix, "txt");
        EXPECT_EQ(request.Filter, "*.txt (*.txt)");
        EXPECT_TRUE(request.ConfirmOverwrite);
    }
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(CaptureAndSaveTest, SaveRightAfterClearWritesAnEmptyFile) {
    const QString path = dir.filePath("empty.txt");
    writeFile(path, "old contents");
    receive("something");
    button(Id::ClearReceiveData)->click();
    prompts.FileAnswers.push_back(path);
    window->MenuAction(Menu::SaveAsciiData)->trigger();
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(readFile(path), "");
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(CaptureAndSaveTest, SaveTakesTheTextWhenTheCommandIsChosen) {
    receive("before");
    prompts.whileFileDialogOpen = [this] { receive(" during"); };
    const QString path = dir.filePath("moment.txt");
    prompts.FileAnswers.push_back(path);
    window->MenuAction(Menu::SaveAsciiData)->trigger();
    EXPECT_EQ(readFile(path), "before");
    EXPECT_EQ(window->AsciiText(), "before during");
}

TEST_F(CaptureAndSaveTest, SaveFailures) {
    receive("data");
    struct Case {
        const char* name;
        QString path;
        QString message;
    };
    const QString missing = dir.filePath("no/such/folder/out.txt");
    const Case cases[] = {
        {"missing folder", missing, "Error creating file " + missing},
        {"full disk", QStringLiteral("/dev/full"),
         QStringLiteral("Error during saving file to disk")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.Prompts.clear();
        prompts.FileAnswers.push_back(c.path);
        window->MenuAction(Menu::SaveHexData)->trigger();
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        expectPrompt(0, c.message, "Error", PromptIcon::Exclamation, PromptButtons::Ok);
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(CaptureAndSaveTest, CancelledSaveWritesNothing) {
    receive("data");
    prompts.FileAnswers.push_back(std::nullopt);
    window->MenuAction(Menu::SaveAsciiData)->trigger();
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_EQ(prompts.FileRequests.size(), 1u);
}

TEST_F(CaptureAndSaveTest, CaptureNeedsNoConnectionAndSurvivesOne) {
    AdapterFirmware& adapter = platform.AddAdapter("WD000001");
    window->RefreshDeviceList();
    const QString path = dir.filePath("session.txt");
    startCapture(path);
    button(Id::Connect)->click();
    ASSERT_TRUE(window->Adapter().IsConnected());
    adapter.InjectUartInput("live");
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(path) == "live"; }, 5000));
    button(Id::Connect)->click();
    ASSERT_FALSE(window->Adapter().IsConnected());
    expectCapturing(true);
    receive("+");
    EXPECT_EQ(readFile(path), "live+");
}

TEST_F(CaptureAndSaveTest, ClosingTheWindowClosesTheCaptureFile) {
    const QString path = dir.filePath("closed.txt");
    startCapture(path);
    receive("kept");
    window->reject();
    window.reset();
    EXPECT_EQ(readFile(path), "kept");
    // No lock is left behind: a new capture of the same file may start.
    ReceiveDataFile again;
    EXPECT_TRUE(again.open(path));
}

// Escape ends the program only when nothing received would be lost, or after a Yes; received
// data is kept by a save (of what had come when it was chosen) or by a capture that was on
// since before it came. Exit and the close box do not ask.
TEST_F(CaptureAndSaveTest, EscapeAsksBeforeDiscardingReceivedData) {
    enum class Leave { EscapeInTransferBox, EscapeInReceiveView, ExitMenu, CloseBox };
    struct Case {
        const char* name;
        std::function<void()> before;
        Leave leave;
        bool asks;
        PromptAnswer answer; // when it asks
    };
    const auto save = [this](int menuItem, const char* name) {
        prompts.FileAnswers.push_back(dir.filePath(name));
        window->MenuAction(menuItem)->trigger();
    };
    const Case cases[] = {
        {"nothing received", [] {}, Leave::EscapeInTransferBox, false, PromptAnswer::Yes},
        {"received, No keeps the window", [this] { receive("data"); }, Leave::EscapeInTransferBox,
         true, PromptAnswer::No},
        {"received, Yes ends it", [this] { receive("data"); }, Leave::EscapeInTransferBox, true,
         PromptAnswer::Yes},
        {"from the receive view too", [this] { receive("data"); }, Leave::EscapeInReceiveView, true,
         PromptAnswer::No},
        {"saved as ASCII",
         [&] {
             receive("data");
             save(Menu::SaveAsciiData, "a.txt");
         },
         Leave::EscapeInTransferBox, false, PromptAnswer::Yes},
        {"saved as hex, then more came",
         [&] {
             receive("data");
             save(Menu::SaveHexData, "h.txt");
             receive("more");
         },
         Leave::EscapeInTransferBox, true, PromptAnswer::No},
        {"save cancelled",
         [this] {
             receive("data");
             prompts.FileAnswers.push_back(std::nullopt);
             window->MenuAction(Menu::SaveAsciiData)->trigger();
         },
         Leave::EscapeInTransferBox, true, PromptAnswer::No},
        {"save that failed",
         [&] {
             receive("data");
             prompts.FileAnswers.push_back(dir.filePath("no/such/folder.txt"));
             window->MenuAction(Menu::SaveAsciiData)->trigger();
         },
         Leave::EscapeInTransferBox, true, PromptAnswer::No},
        {"captured since before it came",
         [this] {
             startCapture(dir.filePath("c1.txt"));
             receive("data");
         },
         Leave::EscapeInTransferBox, false, PromptAnswer::Yes},
        {"capture started after it came",
         [this] {
             receive("data");
             startCapture(dir.filePath("c2.txt"));
             receive("more");
         },
         Leave::EscapeInTransferBox, true, PromptAnswer::No},
        {"capture stopped: the file keeps it",
         [this] {
             startCapture(dir.filePath("c3.txt"));
             receive("data");
             button(Id::Capture)->click();
         },
         Leave::EscapeInTransferBox, false, PromptAnswer::Yes},
        {"capture that failed to write",
         [this] {
             startCapture(QStringLiteral("/dev/full"));
             receive("data"); // its error box is answered by the recorder
         },
         Leave::EscapeInTransferBox, true, PromptAnswer::No},
        {"cleared",
         [this] {
             receive("data");
             button(Id::ClearReceiveData)->click();
         },
         Leave::EscapeInTransferBox, false, PromptAnswer::Yes},
        {"Exit does not ask", [this] { receive("data"); }, Leave::ExitMenu, false,
         PromptAnswer::Yes},
        {"the close box does not ask", [this] { receive("data"); }, Leave::CloseBox, false,
         PromptAnswer::Yes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window = makeWindow(dir.filePath("settings"));
        showWindow();
        c.before();
        prompts.Prompts.clear();
        prompts.Answers.assign({c.answer});
        switch (c.leave) {
        case Leave::EscapeInTransferBox:
            QTest::keyClick(box(), Qt::Key_Escape);
            break;
        case Leave::EscapeInReceiveView:
            view()->setFocus();
            QTest::keyClick(view(), Qt::Key_Escape);
            break;
        case Leave::ExitMenu:
            window->MenuAction(Menu::Exit)->trigger();
            break;
        case Leave::CloseBox:
            window->close();
            break;
        }
        if (c.asks) {
            ASSERT_EQ(prompts.Prompts.size(), 1u);
            expectPrompt(0, "Quit and discard the received data?", "Notice", PromptIcon::Question,
                         PromptButtons::YesNoDefaultNo);
        } else {
            EXPECT_TRUE(prompts.Prompts.empty());
        }
        const bool stays = c.asks && c.answer == PromptAnswer::No;
        EXPECT_EQ(window->isVisible(), stays);
        if (!stays) {
            EXPECT_EQ(window->result(), QDialog::Rejected);
        }
    }
}
