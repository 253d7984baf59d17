#include "receiveview/ReceiveFindBar.h"

#include "config/OptionsFile.h"
#include "config/SettingsFile.h"
#include "device/WendrakeProtocol.h"
#include "tests/support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The options beyond the original terminal, through the real window: their menu items and
// marks, the file they are kept in, line endings on the wire, find from the keyboard and the
// automatic reconnect; the defaults leave everything as it was.

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;
using Kind = EmulatedHidPlatform::WireRecord::Kind;

class TerminalOptionsTest : public WindowFixture<> {
protected:
    AdapterFirmware& adapter = addAdapter("WD000001");

    void SetUp() override { openWindow(); }

    QString status() const { return text(Id::StatusLine); }
    QString optionsPath() const { return QDir(dir.path()).filePath(OptionsFile::FileName); }
    std::string uartOut() const {
        const std::vector<std::uint8_t> out = adapter.UartOutput();
        return std::string(out.begin(), out.end());
    }
};

} // namespace

TEST_F(TerminalOptionsTest, DefaultsAreThePlainTerminal) {
    const std::pair<int, bool> marks[] = {
        {Menu::FollowNewData, true},   {Menu::HoldWhileReading, false},
        {Menu::ShowTimestamps, false}, {Menu::HexDumpLayout, false},
        {Menu::LineEndingNone, true},  {Menu::LineEndingCr, false},
        {Menu::LineEndingLf, false},   {Menu::LineEndingCrLf, false},
        {Menu::AutoReconnect, false},
    };
    for (const auto& [id, on] : marks)
        EXPECT_EQ(marked(id), on) << id;
    EXPECT_EQ(window->Session().Options(), TerminalOptions{});
    EXPECT_FALSE(QFile::exists(optionsPath())) << "nothing is written until an option changes";

    // What each option at its default must leave exactly as the plain terminal has it, with
    // the bytes coming from the adapter through the receive thread.
    connect();
    const auto receive = [&](std::string_view bytes) {
        const qint64 before = window->ReceivedData().byteCount();
        adapter.InjectUartInput(bytes);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window->ReceivedData().byteCount() == before + qint64(bytes.size()); },
            5000));
    };
    const auto shownAsRows = [&] {
        for (qint64 row = 0; row < view()->rowCount(); ++row)
            if (view()->shownRowText(row) != view()->rowText(row))
                return false;
        return true;
    };
    struct Case {
        const char* name;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"follow: each read ends a selection and puts the caret at the end",
         [&] {
             receive("one\r\ntwo");
             view()->setSelection(0, 3);
             receive("three");
             EXPECT_FALSE(view()->hasSelection());
             EXPECT_EQ(view()->caretPosition(), view()->textLength());
             EXPECT_FALSE(view()->newDataBelow());
         }},
        {"no timestamps: the rows are the stored text and nothing beside it",
         [&] {
             EXPECT_EQ(view()->text(), "one\ntwothree");
             EXPECT_EQ(view()->shownRowText(0), "one");
             EXPECT_EQ(view()->shownRowText(1), "twothree");
             EXPECT_TRUE(shownAsRows());
             EXPECT_EQ(window->ReceivedData().asciiText(), "one\r\ntwothree");
         }},
        {"no hex dump: Hex Format shows the hex text in rows of whole groups",
         [&] {
             button(Id::HexFormat)->click();
             const QString hex = "6F 6E 65 0D 0A 74 77 6F 74 68 72 65 65 ";
             EXPECT_EQ(view()->text(), hex);
             QString rows;
             for (qint64 row = 0; row < view()->rowCount(); ++row) {
                 EXPECT_EQ(view()->shownRowText(row).size() % 3, 0) << "row " << row;
                 rows += view()->shownRowText(row);
             }
             EXPECT_EQ(rows, hex);
             EXPECT_TRUE(shownAsRows());
             EXPECT_EQ(window->ReceivedData().hexText(), hex.toLatin1());
             button(Id::AsciiFormat)->click();
         }},
        {"line ending none: exactly the typed bytes on the wire",
         [&] {
             adapter.ClearUartOutput();
             box()->setText(QStringLiteral("AT+X=1"));
             button(Id::SendData)->click();
             EXPECT_EQ(uartOut(), "AT+X=1");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check();
    }
}

TEST_F(TerminalOptionsTest, LineEndingsOnTheWire) {
    struct Case {
        const char* name;
        int item;
        bool hex;
        QString text;
        std::string sent;
    };
    const Case cases[] = {
        {"none", Menu::LineEndingNone, false, "AT", "AT"},
        {"CR", Menu::LineEndingCr, false, "AT", "AT\r"},
        {"LF", Menu::LineEndingLf, false, "AT", "AT\n"},
        {"CR LF", Menu::LineEndingCrLf, false, "AT", "AT\r\n"},
        {"CR LF after an empty box", Menu::LineEndingCrLf, false, "", "\r\n"},
        {"Hex Format adds nothing", Menu::LineEndingCrLf, true, "41 42", "AB"},
    };
    connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        choose(c.item);
        for (int id :
             {Menu::LineEndingNone, Menu::LineEndingCr, Menu::LineEndingLf, Menu::LineEndingCrLf})
            EXPECT_EQ(marked(id), id == c.item) << id;
        button(c.hex ? Id::HexFormat : Id::AsciiFormat)->click();
        adapter.ClearUartOutput();
        box()->setText(c.text);
        button(Id::SendData)->click();
        EXPECT_EQ(uartOut(), c.sent);
    }

    // Automatic send: each change goes out as typed, without an ending.
    button(Id::AsciiFormat)->click();
    choose(Menu::LineEndingCr);
    choose(Menu::AutoSendTransferText);
    adapter.ClearUartOutput();
    box()->setFocus();
    QTest::keyClicks(box(), "ok");
    EXPECT_EQ(uartOut(), "ok");
}

TEST_F(TerminalOptionsTest, KeptInAFileOfTheirOwnBesideTheSettings) {
    choose(Menu::ClearSentTransferData); // writes the 24-byte settings file
    const QString settingsPath = QDir(dir.path()).filePath(SettingsFile::FileName);
    const QByteArray settingsBefore = readFile(settingsPath);
    ASSERT_EQ(settingsBefore.size(), SettingsFile::FullSize);

    choose(Menu::ShowTimestamps);
    choose(Menu::HexDumpLayout);
    choose(Menu::FollowNewData);
    choose(Menu::HoldWhileReading);
    choose(Menu::LineEndingLf);
    choose(Menu::AutoReconnect);
    choose(Menu::HoldWhileReading); // twice: off again
    EXPECT_EQ(readFile(optionsPath()), "FollowNewData=0\nHoldWhileReading=0\nShowTimestamps=1\n"
                                       "HexDumpLayout=1\nLineEnding=LF\nAutoReconnect=1\n");
    EXPECT_EQ(readFile(settingsPath), settingsBefore) << "the settings file is untouched";

    openWindow();
    EXPECT_TRUE(marked(Menu::ShowTimestamps));
    EXPECT_TRUE(marked(Menu::HexDumpLayout));
    EXPECT_FALSE(marked(Menu::FollowNewData));
    EXPECT_TRUE(marked(Menu::LineEndingLf));
    EXPECT_FALSE(marked(Menu::LineEndingNone));
    EXPECT_TRUE(marked(Menu::AutoReconnect));
    EXPECT_TRUE(view()->timestamps());
    EXPECT_TRUE(view()->hexDump());
}

TEST_F(TerminalOptionsTest, FindFromTheKeyboard) {
    showWindow();
    window->AppendReceivedText("alpha beta alpha\r\ngamma");
    ReceiveFindBar* bar = window->FindBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->textBox()->hasFocus(); }, 5000));
    QTest::keyClicks(bar->textBox(), "alpha");

    struct Step {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        qint64 from, to;
        const char* status;
    };
    const Step steps[] = {
        // The caret is at the end after the read: the first search wraps round.
        {"Enter finds the first", Qt::Key_Return, Qt::NoModifier, 0, 5, "Wrapped"},
        {"F3 the next", Qt::Key_F3, Qt::NoModifier, 11, 16, ""},
        {"F3 again wraps round", Qt::Key_F3, Qt::NoModifier, 0, 5, "Wrapped"},
        {"Shift+F3 back, wrapping", Qt::Key_F3, Qt::ShiftModifier, 11, 16, "Wrapped"},
        {"Shift+Enter back", Qt::Key_Return, Qt::ShiftModifier, 0, 5, ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        QTest::keyClick(QApplication::focusWidget(), s.key, s.modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !bar->isSearching(); }, 5000));
        EXPECT_EQ(view()->selectionStart(), s.from);
        EXPECT_EQ(view()->selectionEnd(), s.to);
        EXPECT_EQ(bar->status(), s.status);
    }
    EXPECT_TRUE(window->isVisible()) << "Enter in the bar does not reach the window";

    // Hex bytes, shown in Hex Format: "67 61" is the g and a of gamma, bytes 18 and 19.
    button(Id::HexFormat)->click();
    bar->hexBox()->setChecked(true);
    bar->textBox()->setText(QStringLiteral("67 61"));
    bar->findNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bar->isSearching(); }, 5000));
    EXPECT_EQ(view()->selectedText(), "67 61");
    EXPECT_EQ(view()->selectionStart(), 54);

    bar->textBox()->setText(QStringLiteral("6"));
    bar->findNext();
    EXPECT_EQ(bar->status(), "Not hex bytes");
    bar->hexBox()->setChecked(false);
    bar->textBox()->setText(QStringLiteral("zzz"));
    bar->findNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bar->isSearching(); }, 5000));
    EXPECT_EQ(bar->status(), "Not found");
    EXPECT_EQ(view()->selectedText(), "67 61") << "a failed search leaves the match shown";

    // Escape closes the bar, not the window.
    bar->textBox()->setFocus();
    QTest::keyClick(bar->textBox(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(window->isVisible());
}

// The open find bar has a strip of the view to itself: it covers no row, so a match in what was
// the first visible row, or one scrolled to, is in sight; closed, the rows get the strip back.
TEST_F(TerminalOptionsTest, FindBarCoversNoRowOfTheView) {
    showWindow();
    // The matches end the rows, under the bar, which sits at the view's right.
    QByteArray lines;
    for (int i = 0; i < 300; ++i)
        lines += QByteArray(60, '.') + " row " + QByteArray::number(i) + " ok\r\n";
    window->AppendReceivedText(lines);
    view()->flushFrame();
    ReceiveFindBar* bar = window->FindBar();
    QWidget* viewport = view()->viewport();
    const QRect wholeViewport(viewport->mapTo(window.get(), QPoint(0, 0)), viewport->size());

    struct Case {
        const char* name;
        int firstVisibleRow; // before the bar opens
        const char* needle;
    };
    const Case cases[] = {
        {"match in the first visible row", 100, "row 100 "},
        {"match far below", 10, "row 250 "},
        {"match far above", 200, "row 20 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view()->verticalScrollBar()->setValue(c.firstVisibleRow);
        view()->setCaretPosition(view()->rowStartPosition(c.firstVisibleRow));
        view()->verticalScrollBar()->setValue(c.firstVisibleRow);
        view()->flushFrame();
        ASSERT_EQ(view()->firstVisibleRow(), c.firstVisibleRow);
        window->OnFind();
        ASSERT_TRUE(bar->isVisible());
        bar->textBox()->setText(QString::fromLatin1(c.needle));
        bar->findNext();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !bar->isSearching(); }, 5000));
        view()->flushFrame();
        ASSERT_EQ(view()->selectedText(), QString::fromLatin1(c.needle));

        const QRect shown(viewport->mapTo(window.get(), QPoint(0, 0)), viewport->size());
        EXPECT_FALSE(shown.intersects(bar->geometry()));
        const QRect match = view()->positionRect(view()->selectionStart());
        ASSERT_GT(match.x(), bar->x() - viewport->mapTo(window.get(), QPoint(0, 0)).x());
        EXPECT_TRUE(viewport->rect().contains(match)) << match.y() << " of " << viewport->height();
        EXPECT_FALSE(QRect(viewport->mapTo(window.get(), match.topLeft()), match.size())
                         .intersects(bar->geometry()));

        QTest::keyClick(bar->textBox(), Qt::Key_Escape);
        ASSERT_FALSE(bar->isVisible());
        EXPECT_EQ(QRect(viewport->mapTo(window.get(), QPoint(0, 0)), viewport->size()),
                  wholeViewport);
    }
}

TEST_F(TerminalOptionsTest, AutomaticReconnectWhenTheLostAdapterReturns) {
    struct Case {
        const char* name;
        bool option;
        QString waiting; // status while the adapter is away
        bool reconnected;
    };
    const Case cases[] = {
        {"off (default): the loss ends the connection", false, "NOT CONNECTED", false},
        {"on: waits and connects again", true,
         "NOT CONNECTED  -  Waiting for WD000001 to reconnect", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (window->Session().Options().AutoReconnect != c.option)
            choose(Menu::AutoReconnect);
        connect();
        platform.Unplug(adapter);
        window->Session().PollPins();
        ASSERT_FALSE(window->Adapter().IsConnected());
        EXPECT_EQ(status(), c.waiting);

        // Another adapter arriving is not the one waited for.
        AdapterFirmware& other = platform.AddAdapter("OTHER-01");
        EXPECT_FALSE(window->Adapter().IsConnected());
        platform.ClearWire();
        platform.Plug(adapter);
        EXPECT_EQ(window->Adapter().IsConnected(), c.reconnected);
        if (c.reconnected) {
            EXPECT_TRUE(status().startsWith("CONNECTED  -  115200")) << status().toStdString();
            // The whole connect sequence: the mode handshake, then the UART enabled.
            std::vector<std::uint8_t> sets;
            for (const auto& record : platform.Wire())
                if (record.kind == Kind::FeatureSet)
                    sets.push_back(record.reportId);
            ASSERT_GE(sets.size(), 2u);
            EXPECT_EQ(sets[0], WendrakeProtocol::SetModeReport);
            EXPECT_NE(std::find(sets.begin(), sets.end(), WendrakeProtocol::UartEnableReport),
                      sets.end());
            EXPECT_EQ(button(Id::Connect)->text(), "Disconnect");
            EXPECT_TRUE(window->ReconnectSerial().isEmpty());
            // A disconnect by the user is no loss: nothing is waited for.
            button(Id::Connect)->click();
            EXPECT_EQ(status(), "NOT CONNECTED");
        } else {
            EXPECT_EQ(status(), "NOT CONNECTED");
        }
        platform.Unplug(other);
    }
}
