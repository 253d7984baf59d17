#include "receiveview/ReceiveView.h"
#include "connection/ReceivedText.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

// What the view must show in ASCII form, worked out the plain way: drop CR and zero bytes, split
// at LF, cut each line into rows of the view's width (an empty line is one empty row).
struct AsciiModel {
    QString text;
    std::vector<QString> rows;
    std::vector<qint64> rowOfPosition;

    AsciiModel(const std::string& bytes, int width) {
        for (char c : bytes)
            if (c != '\r' && c != '\0')
                text.append(QChar(static_cast<unsigned char>(c)));
        rowOfPosition.assign(std::size_t(text.size() + 1), -1);
        qint64 position = 0;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            qint64 used = 0;
            do {
                const QString row = line.mid(used, width);
                for (qsizetype i = 0; i < row.size(); ++i)
                    rowOfPosition[std::size_t(position + used + i)] = qint64(rows.size());
                rows.push_back(shown(row));
                used += row.size();
            } while (used < line.size());
            rowOfPosition[std::size_t(position + line.size())] = qint64(rows.size()) - 1;
            position += line.size() + 1;
        }
    }

    static QString shown(QString row) {
        for (QChar& c : row)
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
                c = QLatin1Char(' ');
        return row;
    }
};

class ReceiveViewTest : public ::testing::Test {
protected:
    ReceivedText store;
    ReceiveView view;

    ReceiveViewTest() {
        view.setSource(&store);
        view.resize(400, 200);
        view.show();
    }

    void receive(const std::string& bytes) {
        store.append(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        view.contentAppended();
    }
};

} // namespace

TEST_F(ReceiveViewTest, AsciiFormDropsCarriageReturnsAndZeroBytes) {
    struct Case {
        const char* name;
        std::string received;
        std::string shown;
    };
    const Case cases[] = {
        {"A B CR LF", "AB\r\n", "AB\n"},
        {"lone CR", "a\rb", "ab"},
        {"zero bytes", std::string("\0x\0y\0", 5), "xy"},
        {"Latin-1 and control bytes kept in the text", "\xE9\x01\xFF", "\xE9\x01\xFF"},
        {"form feed starts afresh", "abc\fde", "de"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store.clear();
        view.contentReset();
        receive(c.received);
        EXPECT_EQ(view.text(), latin1(c.shown));
        EXPECT_EQ(view.textLength(), qint64(c.shown.size()));
    }
}

TEST_F(ReceiveViewTest, RowsShowControlBytesAsBlanksAndLatin1AsItself) {
    receive("A\x01\xE9\r\nnext");
    ASSERT_EQ(view.rowCount(), 2);
    EXPECT_EQ(view.rowText(0), QString::fromUtf8("A é"));
    EXPECT_EQ(view.rowText(1), "next");
}

TEST_F(ReceiveViewTest, FormatSwitchesShowTheWholeStoredTextEachWay) {
    receive("AB\r\n");
    view.setFormat(ReceiveView::Format::Hex);
    EXPECT_EQ(view.text(), "41 42 0D 0A ");
    view.setFormat(ReceiveView::Format::Ascii);
    EXPECT_EQ(view.text(), "AB\n");

    // A form feed in Hex Format changes nothing there; a later switch shows what followed it.
    view.setFormat(ReceiveView::Format::Hex);
    receive("x\fyz");
    EXPECT_EQ(view.text(), "41 42 0D 0A 78 0C 79 7A ");
    view.setFormat(ReceiveView::Format::Ascii);
    EXPECT_EQ(view.text(), "yz");
}

TEST_F(ReceiveViewTest, HexRowsHoldWholeGroups) {
    const std::string bytes(100, 'z');
    receive(bytes);
    view.setFormat(ReceiveView::Format::Hex);
    const qint64 perRow = std::max(1, (view.columns() + 1) / 3);
    ASSERT_LT(perRow, 100) << "the view is too wide for this test";
    EXPECT_EQ(view.rowCount(), (100 + perRow - 1) / perRow);
    const QString all = view.text();
    for (qint64 r = 0; r < view.rowCount(); ++r)
        EXPECT_EQ(view.rowText(r), all.mid(3 * r * perRow, 3 * perRow)) << "row " << r;
}

TEST_F(ReceiveViewTest, AsciiLayoutMatchesAPlainModel) {
    std::mt19937 random(5);
    const char alphabet[] = "abcdefgh\r\n\0\x01\xE9 ";
    for (int width : {24, 60, 150, 400}) {
        view.resize(width, 200);
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message() << "width " << width << " round " << round);
            std::string bytes;
            const bool longLines = round == 2;
            const std::size_t size = longLines ? 30000 : 3000;
            for (std::size_t i = 0; i < size; ++i) {
                char c = alphabet[random() % (sizeof alphabet - 1)];
                if (longLines && c == '\n')
                    c = (random() % 50 == 0) ? '\n' : 'L';
                bytes += c;
            }
            store.clear();
            view.contentReset();
            // Reads of uneven sizes, so lines and carriage returns straddle them.
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t n = std::min<std::size_t>(1 + random() % 700, bytes.size() - at);
                receive(bytes.substr(at, n));
                at += n;
            }
            const AsciiModel model(bytes, view.columns());
            ASSERT_EQ(view.text(), model.text);
            ASSERT_EQ(view.rowCount(), qint64(model.rows.size()));
            for (qint64 r = 0; r < view.rowCount(); ++r)
                ASSERT_EQ(view.rowText(r), model.rows[std::size_t(r)]) << "row " << r;
            for (qint64 p = 0; p <= view.textLength(); p += longLines ? 37 : 1)
                ASSERT_EQ(view.rowOfPosition(p), model.rowOfPosition[std::size_t(p)])
                    << "position " << p;
            for (int k = 0; k < 50; ++k) {
                const qint64 from = qint64(random() % (model.text.size() + 1));
                const qint64 to = from + qint64(random() % 9000);
                ASSERT_EQ(view.textRange(from, to), model.text.mid(from, to - from));
            }
        }
    }
}

TEST_F(ReceiveViewTest, EveryAppendPutsTheCaretAtTheEndEvenWithoutBytes) {
    receive("hello\r\nworld");
    EXPECT_EQ(view.caretPosition(), view.textLength());
    view.setSelection(0, 3);
    receive("");
    EXPECT_EQ(view.caretPosition(), view.textLength());
    EXPECT_FALSE(view.hasSelection());
}

TEST_F(ReceiveViewTest, FollowsTheEndAtTheNextFrame) {
    std::string lines;
    for (int i = 0; i < 500; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    receive(lines);
    QScrollBar* bar = view.verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 5000));
    EXPECT_EQ(view.firstVisibleRow() + view.visibleRowCount(), view.rowCount());
    EXPECT_EQ(view.rowText(view.rowCount() - 2), "line 499");
}

TEST_F(ReceiveViewTest, AppendsLeaveTheFocusWhereItIs) {
    QLineEdit other;
    other.show();
    other.activateWindow();
    other.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.hasFocus(); }, 5000));
    receive("data\n");
    view.flushFrame();
    EXPECT_TRUE(other.hasFocus());
    EXPECT_EQ(view.focusPolicy(), Qt::StrongFocus);
}

TEST_F(ReceiveViewTest, BlankShowsNothingAndPutsTheTextBack) {
    receive("kept\r\n");
    view.setBlank(true);
    EXPECT_EQ(view.text(), "");
    EXPECT_EQ(view.rowCount(), 1);
    EXPECT_EQ(store.asciiText(), "kept\r\n");
    view.setBlank(false);
    EXPECT_EQ(view.text(), "kept\n");
}

TEST_F(ReceiveViewTest, ClearEmptiesTheView) {
    receive("something\n");
    store.clear();
    view.contentReset();
    EXPECT_EQ(view.text(), "");
    EXPECT_EQ(view.caretPosition(), 0);
    EXPECT_EQ(view.rowCount(), 1);
}

TEST_F(ReceiveViewTest, KeyboardSelectAllAndCopy) {
    receive("copy\r\nme\xE9");
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedText(), QString::fromUtf8("copy\nmeé"));
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("copy\nmeé"));
}

TEST_F(ReceiveViewTest, MouseDragSelectsText) {
    receive("abcdefgh\nsecond line");
    view.flushFrame();
    const QRect first = view.positionRect(2);   // before "c"
    const QRect second = view.positionRect(12); // before "o" of "second"
    QWidget* viewport = view.viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, first.center() - QPoint(first.width() / 2, 0));
    QTest::mouseMove(viewport, second.center() - QPoint(second.width() / 2, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, {},
                        second.center() - QPoint(second.width() / 2, 0));
    EXPECT_EQ(view.selectedText(), "cdefgh\nsec");
}

TEST_F(ReceiveViewTest, AccessibleAsReadOnlyText) {
    receive("AB\r\nC");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::EditableText);
    EXPECT_TRUE(iface->state().readOnly);
    EXPECT_EQ(iface->text(QAccessible::Value), "AB\nC");
    QAccessibleTextInterface* text = iface->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 4);
    EXPECT_EQ(text->text(1, 3), "B\n");
    EXPECT_EQ(text->cursorPosition(), 4);
    text->setSelection(0, 0, 2);
    EXPECT_EQ(view.selectedText(), "AB");
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 2);
    EXPECT_EQ(text->offsetAtPoint(text->characterRect(3).center()), 3);
}

// What the view shows besides its text reaches assistive tools: the time column and the dump
// layout in the line at an offset, and all three (band included) in the description.
TEST_F(ReceiveViewTest, AccessibleShowsBandTimesAndDumpLayout) {
    struct Case {
        const char* name;
        bool timestamps, hex, dump, held;
        QString description;
    };
    const QString times = "Each line begins with the time its first byte arrived.";
    const QString dump = "Hex dump: each line shows the offset, 16 bytes and their characters.";
    const Case cases[] = {
        {"plain", false, false, false, false, ""},
        {"timestamps", true, false, false, false, times},
        {"hex dump", false, true, true, false, dump},
        {"dump option in ASCII Format shows no dump", false, false, true, false, ""},
        {"held with new data below", false, false, false, true, "New data below (Ctrl+End)."},
        {"all of them", true, true, true, true, times + " " + dump + " New data below (Ctrl+End)."},
    };
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(iface, nullptr);
    QAccessibleTextInterface* text = iface->textInterface();
    ASSERT_NE(text, nullptr);
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "row " + std::to_string(i) + "\n";

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.setFollow(true, false);
        view.setTimestamps(false);
        view.setHexDump(false);
        view.setFormat(ReceiveView::Format::Ascii);
        store.clear();
        view.contentReset();
        receive(lines);
        view.flushFrame();
        view.setTimestamps(c.timestamps);
        view.setHexDump(c.dump);
        if (c.hex)
            view.setFormat(ReceiveView::Format::Hex);
        if (c.held) {
            view.setFollow(false, false);
            view.verticalScrollBar()->setValue(0);
            receive("more\n");
            view.flushFrame();
            ASSERT_TRUE(view.newDataBelow());
        }
        EXPECT_EQ(iface->text(QAccessible::Description), c.description);

        const qint64 row = 3;
        const int offset = int(view.rowStartPosition(row)) + 1;
        int start = -1, end = -1;
        const QString line = text->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
        if (c.timestamps || (c.hex && c.dump)) {
            EXPECT_EQ(line, view.shownRowText(row));
            EXPECT_NE(line, view.rowText(row));
            EXPECT_EQ(start, view.rowStartPosition(row));
            EXPECT_EQ(end, view.rowStartPosition(row) + view.rowLength(row));
            EXPECT_EQ(text->textAfterOffset(offset, QAccessible::LineBoundary, &start, &end),
                      view.shownRowText(row + 1));
            EXPECT_EQ(text->textBeforeOffset(offset, QAccessible::LineBoundary, &start, &end),
                      view.shownRowText(row - 1));
        } else {
            EXPECT_EQ(line, "row 3\n");
        }
    }
}

TEST_F(ReceiveViewTest, KeyboardMovesTheCaretAndExtendsTheSelection) {
    // Positions: "abc def" 0-6, LF 7, "xy" 8-9, LF 10, "longer line" 11-21, end 22.
    const std::string text = "abc def\r\nxy\nlonger line";
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    };
    struct Case {
        const char* name;
        qint64 anchor, caret; // before
        std::vector<Key> keys;
        qint64 expectAnchor, expectCaret;
    };
    const auto shift = Qt::ShiftModifier;
    const auto ctrl = Qt::ControlModifier;
    const Case cases[] = {
        {"Right", 0, 0, {{Qt::Key_Right}}, 1, 1},
        {"Left stops at the start", 0, 0, {{Qt::Key_Left}}, 0, 0},
        {"Right stops at the end", 22, 22, {{Qt::Key_Right}}, 22, 22},
        {"Shift+Right twice", 0, 0, {{Qt::Key_Right, shift}, {Qt::Key_Right, shift}}, 0, 2},
        {"Shift+Left", 9, 9, {{Qt::Key_Left, shift}}, 9, 8},
        {"Left collapses a selection to its start", 2, 5, {{Qt::Key_Left}}, 2, 2},
        {"Right collapses a selection to its end", 5, 2, {{Qt::Key_Right}}, 5, 5},
        {"Home goes to the line's start", 5, 5, {{Qt::Key_Home}}, 0, 0},
        {"End goes to the line's end, before its LF", 5, 5, {{Qt::Key_End}}, 7, 7},
        {"Shift+Home", 9, 9, {{Qt::Key_Home, shift}}, 9, 8},
        {"Shift+End", 8, 8, {{Qt::Key_End, shift}}, 8, 10},
        {"Down to a shorter line ends there", 5, 5, {{Qt::Key_Down}}, 10, 10},
        {"Down twice keeps the column", 5, 5, {{Qt::Key_Down}, {Qt::Key_Down}}, 16, 16},
        {"Up", 16, 16, {{Qt::Key_Up}}, 10, 10},
        {"Up on the first line goes to the start", 3, 3, {{Qt::Key_Up}}, 0, 0},
        {"Down on the last line goes to the end", 13, 13, {{Qt::Key_Down}}, 22, 22},
        {"Shift+Down", 1, 1, {{Qt::Key_Down, shift}}, 1, 9},
        {"Ctrl+Right to the next word", 0, 0, {{Qt::Key_Right, ctrl}}, 4, 4},
        {"Ctrl+Left to the word's start", 6, 6, {{Qt::Key_Left, ctrl}}, 4, 4},
        {"Ctrl+Shift+Left", 9, 9, {{Qt::Key_Left, ctrl | shift}}, 9, 8},
        {"Ctrl+End", 3, 3, {{Qt::Key_End, ctrl}}, 22, 22},
        {"Ctrl+Home", 15, 15, {{Qt::Key_Home, ctrl}}, 0, 0},
        {"Ctrl+Shift+Home", 5, 5, {{Qt::Key_Home, ctrl | shift}}, 5, 0},
        {"Ctrl+Shift+End", 5, 5, {{Qt::Key_End, ctrl | shift}}, 5, 22},
    };
    receive(text);
    view.setFocus();
    ASSERT_GT(view.columns(), 22) << "the view is too narrow for this test";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.setSelection(c.anchor, c.caret);
        for (const Key& k : c.keys)
            QTest::keyClick(&view, k.key, k.modifiers);
        EXPECT_EQ(view.anchorPosition(), c.expectAnchor);
        EXPECT_EQ(view.caretPosition(), c.expectCaret);
    }
    // Ctrl+A and Ctrl+C still work after caret moves.
    QTest::keyClick(&view, Qt::Key_A, ctrl);
    EXPECT_EQ(view.selectedText(), "abc def\nxy\nlonger line");
}

TEST_F(ReceiveViewTest, PageKeysMoveTheCaretAPageAndScroll) {
    std::string lines;
    for (int i = 0; i < 300; ++i)
        lines += "line " + std::to_string(1000 + i) + "\n"; // 10 positions a line
    receive(lines);
    view.setFocus();
    view.setCaretPosition(0);
    view.flushFrame();
    const qint64 page = view.visibleRowCount() - 1;
    ASSERT_GT(page, 1);
    QTest::keyClick(&view, Qt::Key_PageDown);
    EXPECT_EQ(view.caretPosition(), 10 * page);
    EXPECT_FALSE(view.hasSelection());
    view.flushFrame();
    EXPECT_GE(view.firstVisibleRow(), 1) << "the view scrolled with the caret";
    QTest::keyClick(&view, Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view.anchorPosition(), 10 * page);
    EXPECT_EQ(view.caretPosition(), 20 * page);
    QTest::keyClick(&view, Qt::Key_PageUp, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view.anchorPosition(), 10 * page);
    EXPECT_EQ(view.caretPosition(), 0);
}

TEST_F(ReceiveViewTest, HomeAndEndInHexRows) {
    receive("ABCD");
    view.setFormat(ReceiveView::Format::Hex);
    view.setFocus();
    view.setCaretPosition(4);
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.caretPosition(), 11) << "after the last digits, before the trailing space";
    QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedText(), "41 42 43 44");
}

TEST_F(ReceiveViewTest, FollowOrHoldWhenDataArrives) {
    enum class User { Nothing, Selects, ScrollsUp };
    struct Case {
        const char* name;
        bool follow, hold;
        User user;
        bool held;
    };
    const Case cases[] = {
        {"follow (default), nothing held", true, false, User::Nothing, false},
        {"follow, a selection is ended", true, false, User::Selects, false},
        {"follow, scrolled up is brought back", true, false, User::ScrollsUp, false},
        {"hold option, nothing held: still follows", true, true, User::Nothing, false},
        {"hold option keeps a selection", true, true, User::Selects, true},
        {"hold option keeps the view scrolled up", true, true, User::ScrollsUp, true},
        {"follow off holds even without a selection", false, false, User::Nothing, true},
    };
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "row " + std::to_string(i) + "\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store.clear();
        view.contentReset();
        view.setFollow(true, false);
        receive(lines);
        view.flushFrame();
        view.setFollow(c.follow, c.hold);
        QScrollBar* bar = view.verticalScrollBar();
        if (c.user == User::Selects)
            view.setSelection(view.textLength() - 7, view.textLength() - 1);
        if (c.user == User::ScrollsUp)
            bar->setValue(10);
        view.flushFrame();
        const qint64 anchor = view.anchorPosition();
        const qint64 caret = view.caretPosition();
        const int scrolled = bar->value();
        receive("more\n");
        view.flushFrame();
        if (c.held) {
            EXPECT_EQ(view.anchorPosition(), anchor);
            EXPECT_EQ(view.caretPosition(), caret);
            EXPECT_EQ(bar->value(), scrolled);
            EXPECT_TRUE(view.newDataBelow());
            // Going to the end takes the marker away.
            QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
            view.flushFrame();
            EXPECT_FALSE(view.newDataBelow());
        } else {
            EXPECT_FALSE(view.hasSelection());
            EXPECT_EQ(view.caretPosition(), view.textLength());
            EXPECT_EQ(bar->value(), bar->maximum());
            EXPECT_FALSE(view.newDataBelow());
        }
    }
}

TEST_F(ReceiveViewTest, TimestampsBesideLinesAreDisplayOnly) {
    // Local times, so the expected texts are made the same way.
    const qint64 t0 = QDateTime(QDate(2026, 12, 9), QTime(7, 8, 9, 12)).toMSecsSinceEpoch();
    const auto shown = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString("HH:mm:ss.zzz");
    };
    store.append("first\r\nsec", t0);
    store.append("ond\r\n\r\nlast", t0 + 250);
    view.contentReset();
    view.setTimestamps(true);
    const QString pad = QString(13 - 12, QLatin1Char(' '));
    EXPECT_EQ(view.shownRowText(0), shown(t0) + pad + "first");
    EXPECT_EQ(view.shownRowText(1), shown(t0) + pad + "second") << "the time of the first byte";
    EXPECT_EQ(view.shownRowText(2), shown(t0 + 250) + pad) << "an empty line: its CR";
    EXPECT_EQ(view.shownRowText(3), shown(t0 + 250) + pad + "last");
    EXPECT_EQ(view.text(), "first\nsecond\n\nlast") << "the text itself has no times";
    view.selectAll();
    EXPECT_EQ(view.selectedText(), "first\nsecond\n\nlast");
    EXPECT_EQ(store.asciiText(), "first\r\nsecond\r\n\r\nlast");

    view.setFormat(ReceiveView::Format::Hex);
    EXPECT_TRUE(view.shownRowText(0).startsWith(shown(t0) + pad + "66 69 72 73 74 "));
    view.setTimestamps(false);
    EXPECT_TRUE(view.shownRowText(0).startsWith("66 69 "));
}

TEST_F(ReceiveViewTest, TimestampsKeepToTheirOwnSecond) {
    // Lines arriving either side of a second, of midnight, and back in an earlier second.
    const qint64 midnight = QDateTime(QDate(2026, 12, 10), QTime(0, 0)).toMSecsSinceEpoch();
    const qint64 times[] = {midnight - 1001, midnight - 1, midnight,
                            midnight + 999,  midnight - 1, midnight + 1000};
    for (const qint64 t : times)
        store.append("x\n", t);
    view.contentReset();
    view.setTimestamps(true);
    for (int row = 0; row < int(std::size(times)); ++row)
        EXPECT_EQ(view.shownRowText(row),
                  QDateTime::fromMSecsSinceEpoch(times[row]).toString("HH:mm:ss.zzz") + " x")
            << "row " << row;
}

TEST_F(ReceiveViewTest, HexDumpRowsOfSixteenBytes) {
    view.resize(800, 200);
    receive(std::string("0123456789ABCDEF\x01\xE9z", 19));
    view.setFormat(ReceiveView::Format::Hex);
    const QString hexText = view.text();
    view.setHexDump(true);
    ASSERT_EQ(view.rowCount(), 2);
    EXPECT_EQ(view.shownRowText(0), "00000000  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  "
                                    "0123456789ABCDEF");
    EXPECT_EQ(view.shownRowText(1), "00000010  01 E9 7A " + QString(40, QLatin1Char(' ')) + "..z");
    EXPECT_EQ(view.text(), hexText) << "the view's text stays the hex text";
    view.showMatch(16, 18);
    EXPECT_EQ(view.selectedText(), "01 E9");
    // The plain layout again without the option.
    view.setHexDump(false);
    EXPECT_EQ(view.rowText(0).left(6), "30 31 ");
    EXPECT_GT(view.rowText(0).size(), 48);
}

TEST_F(ReceiveViewTest, BytesAndPositionsBothWays) {
    // Long lines cross the index's marks; CR and zero bytes take no position.
    std::string bytes = "ab\r\ncd" + std::string(10000, 'x') + std::string("\0y\r\n", 4) + "end";
    receive(bytes);
    const std::pair<qint64, qint64> cases[] = {
        {0, 0},         {2, 2},         {3, 2},         {4, 3},
        {6, 5},         {5006, 5005},   {10006, 10005}, {10007, 10005},
        {10008, 10006}, {10009, 10006}, {10010, 10007}, {10013, 10010},
    };
    for (const auto& [byte, position] : cases) {
        EXPECT_EQ(view.positionOfByte(byte), position) << "byte " << byte;
    }
    for (qint64 p : {0, 3, 5005, 10006, 10010})
        EXPECT_EQ(view.positionOfByte(view.byteOfPosition(p)), p) << "position " << p;
}
