#include "config/SettingsFile.h"
#include "tests/support/WindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Typed sends through the real window against an emulated adapter; the UART bytes and the
// output reports on the wire are what is asserted.

namespace {

namespace Id = TerminalControl;
namespace Menu = TerminalMenuItem;
using Kind = EmulatedHidPlatform::WireRecord::Kind;
using Bytes = std::vector<std::uint8_t>;

class SendDataTest : public WindowFixture<> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        openWindow();
        window->show();
        QApplication::setActiveWindow(window.get());
        box = qobject_cast<TransferBox*>(window->Control(Id::TransferBox));
        ASSERT_NE(box, nullptr);
    }

    void chooseHex() { button(Id::HexFormat)->click(); }

    void send(const QString& text) {
        box->setText(text);
        button(Id::SendData)->click();
    }

    Bytes uartOut() const { return adapter.UartOutput(); }

    // Output reports as (id, full length, bytes after the announced count all zero).
    struct Report {
        std::uint8_t Id;
        std::size_t Length;
        bool Padded;
        bool operator==(const Report&) const = default;
    };
    std::vector<Report> outputReports() const {
        std::vector<Report> reports;
        for (const auto& record : platform.Wire()) {
            if (record.kind != Kind::OutputReport)
                continue;
            const std::size_t n = record.reportId - 0x80u;
            bool padded = true;
            for (std::size_t i = 1 + n; i < record.bytes.size(); ++i)
                padded = padded && record.bytes[i] == 0;
            reports.push_back({record.reportId, record.length, padded});
        }
        return reports;
    }

    TerminalSettings savedSettings() const {
        QFile file(QDir(dir.path()).filePath(SettingsFile::FileName));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        TerminalSettings settings;
        SettingsFile::SerializeSettings(settings, file.readAll());
        return settings;
    }

    AdapterFirmware& adapter = addAdapter("WD000001");
    TransferBox* box = nullptr;
};

// ---- Hex format on the wire ----

struct HexWireCase {
    const char* Name;
    QString Text;
    Bytes Expected;
};

class HexOnTheWireTest : public SendDataTest, public ::testing::WithParamInterface<HexWireCase> {};

TEST_P(HexOnTheWireTest, SendsTheParsedBytesInOneReport) {
    connect();
    chooseHex();
    send(GetParam().Text);
    EXPECT_EQ(uartOut(), GetParam().Expected);
    if (GetParam().Expected.empty()) {
        EXPECT_TRUE(outputReports().empty());
    } else {
        const auto id = static_cast<std::uint8_t>(0x80 + GetParam().Expected.size());
        EXPECT_EQ(outputReports(), (std::vector<Report>{{id, 65, true}}));
    }
    // Successful (also when nothing was written): the box is emptied.
    EXPECT_EQ(box->text(), QString());
    EXPECT_TRUE(prompts.Prompts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexOnTheWireTest,
    ::testing::Values(HexWireCase{"Spaces", "41 42 43", {0x41, 0x42, 0x43}},
                      HexWireCase{"CommasSemicolonsPrefix", "0x41,0x42;0x43", {0x41, 0x42, 0x43}},
                      HexWireCase{"UpperPrefix", "0X41 0X42 0X43", {0x41, 0x42, 0x43}},
                      HexWireCase{"DoubleComma", "41,,42", {0x41, 0x42}},
                      HexWireCase{"LowerCase", "ff 0a", {0xFF, 0x0A}},
                      HexWireCase{"LoneDigit", "A", {0x0A}},
                      HexWireCase{"ThreeDigits", "123", {0x12}},
                      HexWireCase{"NonHex", "GG", {0xFF}},
                      HexWireCase{"DigitAndNonHex", "4Z", {0x4F}},
                      HexWireCase{"RunsOfSpaces", "  41   42  ", {0x41, 0x42}},
                      HexWireCase{"CrLfInsideToken", "41\r\n42", {0x41}},
                      HexWireCase{"CrLfBetweenTokens", "41 \r\n 42", {0x41, 0x00, 0x42}},
                      HexWireCase{"PrefixInside", "10X5", {0x15}}, HexWireCase{"Empty", "", {}},
                      HexWireCase{"SpacesOnly", "    ", {}}),
    [](const ::testing::TestParamInfo<HexWireCase>& info) { return std::string(info.param.Name); });

TEST_F(SendDataTest, HexCountBeyondSixteenBitsSendsEveryByte) {
    connect();
    chooseHex();
    QString text;
    Bytes expected;
    for (int i = 0; i < 70000; ++i) {
        text += QStringLiteral("%1 ").arg(i % 256, 2, 16, QLatin1Char('0'));
        expected.push_back(static_cast<std::uint8_t>(i % 256));
    }
    send(text);
    EXPECT_EQ(uartOut(), expected);
    EXPECT_EQ(outputReports().size(), (70000u + 63) / 64);
}

// ---- ASCII format ----

TEST_F(SendDataTest, AsciiTypedAtCrLfThenEnterSendsTheCharacters) {
    connect();
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("AT"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(box->text(), QStringLiteral("AT\r\n"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(uartOut(), (Bytes{0x41, 0x54, 0x0D, 0x0A}));
    EXPECT_EQ(outputReports(), (std::vector<Report>{{0x84, 65, true}}));
    EXPECT_EQ(box->text(), QString());
    EXPECT_TRUE(box->hasFocus());
}

TEST_F(SendDataTest, AsciiSendsLatin1AndQuestionMarksBeyondIt) {
    connect();
    send(QString(QChar(0xE9)) + QChar(0x20AC) + QStringLiteral("x"));
    EXPECT_EQ(uartOut(), (Bytes{0xE9, '?', 'x'}));
}

// Pasted into the box as it is, then sent: the box holds the characters themselves, so the
// bytes are those characters (Latin-1 one to one, '?' beyond it), line breaks as CR LF.
struct PastedCase {
    const char* Name;
    bool Hex;
    QString Pasted;
    Bytes Expected;
};

void PrintTo(const PastedCase& c, std::ostream* os) {
    *os << c.Name;
}

class PastedOnTheWireTest : public SendDataTest,
                            public ::testing::WithParamInterface<PastedCase> {};

TEST_P(PastedOnTheWireTest, SendsTheBoxsCharactersUnchanged) {
    connect();
    if (GetParam().Hex)
        chooseHex();
    box->setFocus();
    QApplication::clipboard()->setText(GetParam().Pasted);
    box->paste();
    button(Id::SendData)->click();
    EXPECT_EQ(uartOut(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PastedOnTheWireTest,
    ::testing::Values(
        PastedCase{"NoBreakSpace", false, QStringLiteral("A\u00A0B"), {0x41, 0xA0, 0x42}},
        PastedCase{"LoneCr", false, QStringLiteral("A\rB\r"), {0x41, 0x0D, 0x42, 0x0D}},
        PastedCase{"CrLf", false, QStringLiteral("A\r\nB"), {0x41, 0x0D, 0x0A, 0x42}},
        PastedCase{"LfIsALineBreak", false, QStringLiteral("A\nB"), {0x41, 0x0D, 0x0A, 0x42}},
        PastedCase{"CrBeforeCrLf", false, QStringLiteral("\r\r\n"), {0x0D, 0x0D, 0x0A}},
        PastedCase{"LineSeparator", false, QStringLiteral("A\u2028B"), {0x41, '?', 0x42}},
        PastedCase{"ParagraphSeparator", false, QStringLiteral("A\u2029B"), {0x41, '?', 0x42}},
        PastedCase{"Noncharacters",
                   false,
                   QStringLiteral("\uFDD0\uFDD1\uFDD2\uFFFD"),
                   {'?', '?', '?', '?'}},
        PastedCase{"Latin1AndBeyond",
                   false,
                   QStringLiteral("\u00FF\u00E9\u20AC") + QString::fromUcs4(U"\U0001F600"),
                   {0xFF, 0xE9, '?', '?'}},
        PastedCase{"HexNoBreakSpaceLeadsAToken", true, QStringLiteral("\u00A041"), {0xF4}},
        PastedCase{
            "HexNoBreakSpaceDoesNotSplit", true, QStringLiteral("41\u00A042 43"), {0x41, 0x43}},
        PastedCase{"HexLoneCrStaysInItsToken", true, QStringLiteral("41 \r4"), {0x41, 0x04}}),
    [](const ::testing::TestParamInfo<PastedCase>& info) { return std::string(info.param.Name); });

TEST_F(SendDataTest, AsciiEmptyBoxWritesNothingAndCountsAsSent) {
    connect();
    send(QString());
    EXPECT_TRUE(outputReports().empty());
    EXPECT_EQ(box->text(), QString());
}

TEST_F(SendDataTest, FormatButtonsChooseTheConversion) {
    connect();
    send(QStringLiteral("41"));
    chooseHex();
    send(QStringLiteral("41"));
    button(Id::AsciiFormat)->click();
    send(QStringLiteral("41"));
    EXPECT_EQ(uartOut(), (Bytes{'4', '1', 0x41, '4', '1'}));
}

// ---- Clearing after a send ----

TEST_F(SendDataTest, ClearAfterSendOnlyOnSuccess) {
    struct Case {
        const char* Name;
        std::int32_t Clear;
        bool FailWrite;
        QString BoxAfter;
        Bytes Sent;
    };
    const Case cases[] = {
        {"success, clear on", 1, false, QString(), {'h', 'i'}},
        {"success, clear off", 0, false, QStringLiteral("hi"), {'h', 'i'}},
        {"failure, clear on", 1, true, QStringLiteral("hi"), {}},
        {"failure, clear off", 0, true, QStringLiteral("hi"), {}},
    };
    connect();
    for (const Case& c : cases) {
        adapter.ClearUartOutput();
        window->Settings().ClearSentTransferData = c.Clear;
        if (c.FailWrite)
            platform.FailNthWrite(1);
        send(QStringLiteral("hi"));
        EXPECT_EQ(box->text(), c.BoxAfter) << c.Name;
        EXPECT_EQ(uartOut(), c.Sent) << c.Name;
    }
    // A failed send says nothing.
    EXPECT_TRUE(prompts.Prompts.empty());
}

TEST_F(SendDataTest, StalledAdapterFailsTheSendWithinTheBound) {
    connect();
    platform.StallWrites(true);
    send(QStringLiteral("stalled"));
    // Back here at all means the wait was bounded; the text stays for a second try.
    EXPECT_EQ(box->text(), QStringLiteral("stalled"));
    EXPECT_TRUE(prompts.Prompts.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    platform.StallWrites(false);
    button(Id::SendData)->click();
    EXPECT_EQ(box->text(), QString());
    const Bytes out = uartOut();
    EXPECT_EQ(std::string(out.begin(), out.end()), "stalled");
}

TEST_F(SendDataTest, SendHeldInTheKernelFailsWithinTheBound) {
    // As usbhid holds a report: write() cannot be cancelled and outlasts our bound.
    connect();
    platform.SetWritesIgnoreCancel(true);
    platform.StallWrites(true);
    send(QStringLiteral("held"));
    // Back while the kernel still holds the report: the window did not wait for it.
    EXPECT_EQ(platform.WritesInKernel(), 1u);
    EXPECT_EQ(box->text(), QStringLiteral("held"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // A second try finds the first report still inside and fails within its bound too.
    button(Id::SendData)->click();
    EXPECT_EQ(box->text(), QStringLiteral("held"));
    EXPECT_EQ(platform.WritesInKernel(), 1u);
    platform.StallWrites(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return platform.WritesInKernel() == 0; }, 5000));
    // The held report went out when the adapter took it; the second try never started one.
    Bytes out = uartOut();
    EXPECT_EQ(std::string(out.begin(), out.end()), "held");
    button(Id::SendData)->click();
    EXPECT_EQ(box->text(), QString());
    out = uartOut();
    EXPECT_EQ(std::string(out.begin(), out.end()), "heldheld");
    EXPECT_TRUE(prompts.Prompts.empty());
}

// ---- Not connected ----

TEST_F(SendDataTest, NotConnectedAnsweringNoSendsNothing) {
    prompts.Answers = {PromptAnswer::No};
    send(QStringLiteral("41"));
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    EXPECT_EQ(prompts.Prompts[0].Text,
              QStringLiteral("Not connected, would you like to connect now?"));
    EXPECT_EQ(prompts.Prompts[0].Caption, QStringLiteral("Connect"));
    EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Question);
    EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::YesNo);
    EXPECT_FALSE(window->Adapter().IsConnected());
    EXPECT_EQ(box->text(), QStringLiteral("41"));
    EXPECT_TRUE(uartOut().empty());
}

TEST_F(SendDataTest, NotConnectedAnsweringYesConnectsAndSends) {
    prompts.Answers = {PromptAnswer::Yes};
    send(QStringLiteral("ok"));
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_EQ(uartOut(), (Bytes{'o', 'k'}));
}

// ---- Automatic send ----

TEST_F(SendDataTest, AutomaticHexTypingFourThenOneSendsTwoBytes) {
    connect();
    window->Settings().AutoSendTransferText = 1;
    chooseHex();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_4);
    EXPECT_EQ(box->text(), QString());
    QTest::keyClick(box, Qt::Key_1);
    EXPECT_EQ(box->text(), QString());
    EXPECT_EQ(uartOut(), (Bytes{0x04, 0x01}));
    EXPECT_EQ(outputReports(), (std::vector<Report>{{0x81, 65, true}, {0x81, 65, true}}));
}

TEST_F(SendDataTest, AutomaticHexPasteSendsAtOnce) {
    connect();
    window->Settings().AutoSendTransferText = 1;
    chooseHex();
    QApplication::clipboard()->setText(QStringLiteral("41 42"));
    box->paste();
    EXPECT_EQ(uartOut(), (Bytes{0x41, 0x42}));
    EXPECT_EQ(box->text(), QString());
}

TEST_F(SendDataTest, AutomaticAsciiCtrlEnterSendsCrLfAndEnterSendsNothing) {
    connect();
    window->Settings().AutoSendTransferText = 1;
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(uartOut(), (Bytes{0x0D, 0x0A}));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(uartOut(), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(outputReports().size(), 1u);
    EXPECT_EQ(box->text(), QString());
}

TEST_F(SendDataTest, AutomaticSendWhileNotConnectedAnsweringNoEmptiesTheBox) {
    window->Settings().AutoSendTransferText = 1;
    prompts.Answers = {PromptAnswer::No, PromptAnswer::No};
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A);
    QTest::keyClick(box, Qt::Key_B);
    ASSERT_EQ(prompts.Prompts.size(), 2u);
    for (const auto& prompt : prompts.Prompts)
        EXPECT_EQ(prompt.Text, QStringLiteral("Not connected, would you like to connect now?"));
    EXPECT_EQ(box->text(), QString());
    EXPECT_FALSE(window->Adapter().IsConnected());
    EXPECT_TRUE(uartOut().empty());
}

TEST_F(SendDataTest, AutomaticSendOffLeavesTypingAlone) {
    connect();
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("41"));
    EXPECT_EQ(box->text(), QStringLiteral("41"));
    EXPECT_TRUE(uartOut().empty());
}

// ---- The two menu options ----

TEST_F(SendDataTest, MenuTogglesFlipTheFlagAndTheMarkAndSaveAtOnce) {
    struct Case {
        int MenuId;
        std::int32_t TerminalSettings::*Flag;
        std::int32_t Initial;
    };
    const Case cases[] = {
        {Menu::ClearSentTransferData, &TerminalSettings::ClearSentTransferData, 1},
        {Menu::AutoSendTransferText, &TerminalSettings::AutoSendTransferText, 0},
    };
    const QString file = QDir(dir.path()).filePath(SettingsFile::FileName);
    for (const Case& c : cases) {
        QAction* action = window->MenuAction(c.MenuId);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(window->Settings().*c.Flag, c.Initial);
        EXPECT_EQ(action->isChecked(), c.Initial == 1);

        QFile::remove(file);
        action->trigger();
        EXPECT_EQ(window->Settings().*c.Flag, 1 - c.Initial);
        EXPECT_EQ(action->isChecked(), c.Initial == 0);
        ASSERT_TRUE(QFile::exists(file));
        EXPECT_EQ(savedSettings(), window->Settings());

        QFile::remove(file);
        action->trigger();
        EXPECT_EQ(window->Settings().*c.Flag, c.Initial);
        EXPECT_EQ(action->isChecked(), c.Initial == 1);
        ASSERT_TRUE(QFile::exists(file));
        EXPECT_EQ(savedSettings().*c.Flag, c.Initial);
        EXPECT_EQ(savedSettings(), window->Settings());
    }
}

// The settings file counts any nonzero flag as on: the mark, what the option does and the next
// toggle all agree with that.
TEST_F(SendDataTest, SendOptionFlagsOtherThanZeroOrOneAreOn) {
    const auto reopen = [this](const TerminalSettings& settings) {
        window.reset();
        SettingsFile(dir.path()).SaveSettings(settings);
        window = makeWindow(dir.path());
        window->show();
        box = qobject_cast<TransferBox*>(window->Control(Id::TransferBox));
        connect();
    };
    for (const std::int32_t stored : {2, -1, 0x100}) {
        SCOPED_TRACE(stored);
        TerminalSettings settings;
        settings.ClearSentTransferData = stored;
        reopen(settings);
        QAction* clear = window->MenuAction(Menu::ClearSentTransferData);
        EXPECT_TRUE(clear->isChecked());
        send(QStringLiteral("AB"));
        EXPECT_EQ(uartOut(), (Bytes{'A', 'B'}));
        EXPECT_EQ(box->text(), QString()); // on: the sent text is cleared
        clear->trigger();
        EXPECT_EQ(window->Settings().ClearSentTransferData, 0);
        EXPECT_FALSE(clear->isChecked());
        send(QStringLiteral("CD"));
        EXPECT_EQ(box->text(), QStringLiteral("CD")); // off: kept

        settings.ClearSentTransferData = 1;
        settings.AutoSendTransferText = stored;
        reopen(settings);
        QAction* automatic = window->MenuAction(Menu::AutoSendTransferText);
        EXPECT_TRUE(automatic->isChecked());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_X);
        EXPECT_EQ(uartOut(), (Bytes{'x'}));
        automatic->trigger();
        EXPECT_EQ(window->Settings().AutoSendTransferText, 0);
        EXPECT_FALSE(automatic->isChecked());
        QTest::keyClick(box, Qt::Key_Y);
        EXPECT_EQ(uartOut(), (Bytes{'x'}));
        EXPECT_EQ(box->text(), QStringLiteral("y"));
    }
}

TEST_F(SendDataTest, SavedOptionsComeBackInTheNextWindow) {
    window->MenuAction(Menu::ClearSentTransferData)->trigger();
    window->MenuAction(Menu::AutoSendTransferText)->trigger();
    window.reset();
    const std::unique_ptr<CWendrakeTerminalDlg> next = makeWindow(dir.path());
    EXPECT_EQ(next->Settings().ClearSentTransferData, 0);
    EXPECT_EQ(next->Settings().AutoSendTransferText, 1);
    EXPECT_FALSE(next->MenuAction(Menu::ClearSentTransferData)->isChecked());
    EXPECT_TRUE(next->MenuAction(Menu::AutoSendTransferText)->isChecked());
}

} // namespace
