#include "tests/support/HookedPrompts.h"
#include "tests/support/WindowFixture.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Received data in the terminal window: through the adapter and the receive thread into the
// stored texts and the view, format switches, form feeds, Clear, and the connection's effects.

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;

// Lets a test look at the window at the moment a pin latch write goes out.
class LatchWatchingPlatform : public EmulatedHidPlatform {
public:
    std::function<void(std::uint8_t values, std::uint8_t mask)> onLatchWrite;

    bool setFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override {
        if (length >= 3 && buffer[0] == 0x4B && onLatchWrite)
            onLatchWrite(buffer[1], buffer[2]);
        return EmulatedHidPlatform::setFeature(handle, buffer, length);
    }
};

class ReceiveWindowTest : public WindowFixture<LatchWatchingPlatform, HookedPrompts> {
protected:
    AdapterFirmware& adapter = addAdapter("WD000001");

    void SetUp() override {
        platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
        openWindow();
    }

    void toggleConnection() { button(Id::Connect)->click(); }
    void receive(const std::string& s) { window->AppendReceivedText(bytes(s)); }
    bool waitForAscii(const QByteArray& expected) {
        return QTest::qWaitFor([&] { return window->AsciiText() == expected; }, 5000);
    }
};

} // namespace

TEST_F(ReceiveWindowTest, TheViewIsOurOwn) {
    ASSERT_NE(view(), nullptr);
    EXPECT_EQ(view()->font(), window->Control(Id::TransferBox)->font());
    EXPECT_EQ(view()->focusPolicy(), Qt::StrongFocus);
}

TEST_F(ReceiveWindowTest, BytesFromTheAdapterReachTextsAndView) {
    toggleConnection();
    ASSERT_TRUE(window->Adapter().IsConnected());
    adapter.InjectUartInput("AB\r\n");
    ASSERT_TRUE(waitForAscii("AB\r\n"));
    EXPECT_EQ(window->HexText(), "41 42 0D 0A ");
    EXPECT_EQ(view()->text(), "AB\n");
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(ReceiveWindowTest, FormatSwitchesShowTheOtherTextAndTakeTheFocus) {
    showWindow();
    receive("AB\r\n");
    ASSERT_FALSE(view()->hasFocus());
    button(Id::HexFormat)->click();
    EXPECT_FALSE(window->IsAsciiFormat());
    EXPECT_EQ(view()->text(), "41 42 0D 0A ");
    EXPECT_TRUE(view()->hasFocus());
    EXPECT_EQ(view()->caretPosition(), 12);
    button(Id::AsciiFormat)->click();
    EXPECT_EQ(view()->text(), "AB\n");
    EXPECT_EQ(view()->caretPosition(), 3);
}

TEST_F(ReceiveWindowTest, FormatSwitchPutsTheCaretAtPosition65535) {
    receive(std::string(70000, 'x'));
    button(Id::HexFormat)->click();
    EXPECT_EQ(view()->caretPosition(), 65535);
    EXPECT_FALSE(view()->hasSelection());
}

TEST_F(ReceiveWindowTest, FormFeedInEitherFormat) {
    struct Case {
        const char* name;
        bool hex;
        std::string shownBefore; // view right after the read
        std::string shownAfterSwitch;
    };
    const Case cases[] = {
        {"ASCII Format", false, "de", "61 62 63 0C 64 65 "},
        {"Hex Format", true, "61 62 63 0C 64 65 ", "de"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        button(Id::ClearReceiveData)->click();
        button(c.hex ? Id::HexFormat : Id::AsciiFormat)->click();
        receive("abc\fde");
        EXPECT_EQ(window->AsciiText(), "de");
        EXPECT_EQ(window->HexText(), "61 62 63 0C 64 65 ");
        EXPECT_EQ(view()->text(), QString::fromLatin1(c.shownBefore.c_str()));
        button(c.hex ? Id::AsciiFormat : Id::HexFormat)->click();
        EXPECT_EQ(view()->text(), QString::fromLatin1(c.shownAfterSwitch.c_str()));
    }
}

TEST_F(ReceiveWindowTest, AnEmptyReadStillMovesTheCaretToTheEnd) {
    receive("line one\r\nline two");
    view()->setCaretPosition(0);
    receive("");
    EXPECT_EQ(view()->caretPosition(), view()->textLength());
    EXPECT_EQ(window->AsciiText(), "line one\r\nline two");
}

TEST_F(ReceiveWindowTest, AppendsLeaveTheFocusInTheTransferBox) {
    showWindow();
    QWidget* box = window->Control(Id::TransferBox);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->hasFocus(); }, 5000));
    receive("text\r\n");
    view()->flushFrame();
    EXPECT_TRUE(box->hasFocus());
}

TEST_F(ReceiveWindowTest, ZeroBytesAreKeptButNotShown) {
    receive(std::string("a\0b\xE9", 4));
    EXPECT_EQ(window->AsciiText(), bytes(std::string("a\0b\xE9", 4)));
    EXPECT_EQ(view()->text(), QString::fromUtf8("abé"));
}

TEST_F(ReceiveWindowTest, ClearFromButtonAndMenu) {
    for (auto clear :
         {std::function<void()>([&] { button(Id::ClearReceiveData)->click(); }),
          std::function<void()>([&] { window->MenuAction(Menu::Clear)->trigger(); })}) {
        receive("one\ftwo");
        clear();
        EXPECT_EQ(window->AsciiText(), "");
        EXPECT_EQ(window->HexText(), "");
        EXPECT_EQ(view()->text(), "");
        receive("z");
        EXPECT_EQ(window->HexText(), "7A ");
    }
}

TEST_F(ReceiveWindowTest, DisconnectAndReconnectKeepTheTexts) {
    toggleConnection();
    adapter.InjectUartInput("first\r\n");
    ASSERT_TRUE(waitForAscii("first\r\n"));
    toggleConnection();
    ASSERT_FALSE(window->Adapter().IsConnected());
    EXPECT_EQ(window->AsciiText(), "first\r\n");
    EXPECT_EQ(view()->text(), "first\n");

    toggleConnection();
    ASSERT_TRUE(window->Adapter().IsConnected());
    EXPECT_EQ(view()->text(), "first\n") << "the reset pulse puts the view back";
    adapter.InjectUartInput("second");
    ASSERT_TRUE(waitForAscii("first\r\nsecond"));
    EXPECT_EQ(window->HexText(), "66 69 72 73 74 0D 0A 73 65 63 6F 6E 64 ");
}

TEST_F(ReceiveWindowTest, NothingArrivesAfterTheDisconnect) {
    toggleConnection();
    ASSERT_TRUE(platform.WaitForPendingReads(1, std::chrono::seconds(5)));
    adapter.InjectUartInput("in time");
    ASSERT_TRUE(waitForAscii("in time"));
    toggleConnection();
    adapter.InjectUartInput("too late");
    // The reader is joined; a hand-over posted before the stop would come now.
    EXPECT_FALSE(window->Session().Receiver().isRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->AsciiText(), "in time");
    EXPECT_EQ(view()->text(), "in time");
}

TEST_F(ReceiveWindowTest, ResetPulseBlanksOnlyForAMoment) {
    receive("earlier session");
    window->Settings().ToggleResetOnConnect = 1;
    std::vector<QString> shownAtLatchWrites;
    platform.onLatchWrite = [&](std::uint8_t, std::uint8_t) {
        shownAtLatchWrites.push_back(view()->text());
    };
    toggleConnection();
    // Q3 Reset low while the earlier text shows; high again while the view is empty.
    EXPECT_EQ(shownAtLatchWrites, (std::vector<QString>{"earlier session", ""}));
    ASSERT_TRUE(window->Adapter().IsConnected());
    EXPECT_FALSE(view()->isBlank());
    EXPECT_EQ(view()->text(), "earlier session");
    EXPECT_EQ(window->AsciiText(), "earlier session");
}

TEST_F(ReceiveWindowTest, ThePinPollEndsTheConnectionWhileTheCaptureErrorIsOpen) {
    using namespace std::chrono_literals;
    toggleConnection();
    ASSERT_TRUE(window->Adapter().IsConnected());
    ASSERT_TRUE(platform.WaitForPendingReads(1, 5s));
    // /dev/full exists (the overwrite question is answered Yes) and every write to it fails.
    prompts.FileAnswers.push_back(QStringLiteral("/dev/full"));
    button(Id::BrowseReceiveFile)->click();
    button(Id::Capture)->click();
    ASSERT_TRUE(button(Id::Capture)->isChecked());

    QByteArray atDisconnect = "<box never opened>";
    prompts.whileMessageOpen = [&](const RecordingPrompts::Prompt& box) {
        ASSERT_EQ(box.Text, "Error during file capture, closing file");
        // Another read is taken while the box is open, then the adapter goes and the poll
        // finds it gone.
        adapter.InjectUartInput("second");
        ASSERT_TRUE(QTest::qWaitFor([&] { return platform.QueuedInputReports(0) == 0; }, 5000));
        ASSERT_TRUE(platform.WaitForPendingReads(1, 5s));
        platform.Unplug(adapter);
        window->Session().PollPins();
        EXPECT_FALSE(window->Adapter().IsConnected());
        atDisconnect = window->AsciiText();
    };
    adapter.InjectUartInput("first");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.whileMessageOpen; }, 5000));
    EXPECT_EQ(atDisconnect, "firstsecond");
    EXPECT_FALSE(window->Session().Receiver().isRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->AsciiText(), "firstsecond") << "nothing reaches the window after the stop";
    EXPECT_EQ(view()->text(), "firstsecond");
    EXPECT_FALSE(button(Id::Capture)->isChecked());
}
