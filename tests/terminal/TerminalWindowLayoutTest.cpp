#include "tests/support/TerminalWindowTest.h"

#include "terminal/TerminalWindowLayout.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QMenuBar>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// The terminal window's resize rule: what follows the outer edge, and the Clear Receive Data
// caption within its fixed face.

namespace {

namespace Id = TerminalControl;

// "Clear Receive Data" shows its caption in the dialog's font, as every other button does, and
// clear of its edges, at the first size and after resizing.
TEST_F(TerminalWindowTest, ClearReceiveDataCaptionClearsItsEdges) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* clear =
        qobject_cast<QAbstractButton*>(window->Control(TerminalControl::ClearReceiveData));
    ASSERT_NE(clear, nullptr);
    for (const QSize size : {window->size(), window->size() + QSize(200, 100)}) {
        window->resize(size);
        QTest::qWait(20);
        EXPECT_EQ(clear->font(), window->font());
        const int spare =
            clear->width() - QFontMetrics(window->font()).horizontalAdvance(clear->text());
        EXPECT_GE(spare, 8) << size.width() << "x" << size.height();
        EXPECT_GE(clear->height(), QFontMetrics(window->font()).height());
    }
}

// The three controls that follow the outer edge are where the rule puts them, measured in screen
// pixels from the window's outer rectangle; nothing else has moved since before.
struct EdgeFollowers {
    QPoint viewTopLeft;
    int statusLeft;
    QRect transferBox;

    explicit EdgeFollowers(const CWendrakeTerminalDlg& window)
        : viewTopLeft(window.Control(Id::ReceiveView)->geometry().topLeft()),
          statusLeft(window.Control(Id::StatusLine)->geometry().left()),
          transferBox(window.Control(Id::TransferBox)->geometry()) {}

    void expectPlaced(const CWendrakeTerminalDlg& window) const {
        const QWidget* view = window.Control(Id::ReceiveView);
        const QWidget* status = window.Control(Id::StatusLine);
        const QWidget* clear = window.Control(Id::ClearReceiveData);
        // Outer rectangle with exclusive right and bottom edges, in screen pixels.
        const QRect outer = window.frameGeometry();
        const int right = outer.x() + outer.width();
        const int bottom = outer.y() + outer.height();
        const auto screenRect = [&](const QWidget* w) {
            const QPoint topLeft = window.mapToGlobal(w->geometry().topLeft());
            return QRect(topLeft, w->size());
        };
        const auto exclusiveRight = [](const QRect& r) { return r.x() + r.width(); };
        const auto exclusiveBottom = [](const QRect& r) { return r.y() + r.height(); };

        EXPECT_EQ(view->geometry().topLeft(), viewTopLeft);
        EXPECT_EQ(exclusiveRight(screenRect(view)), right - 14);
        EXPECT_EQ(exclusiveBottom(screenRect(view)), bottom - 42);

        EXPECT_EQ(status->geometry().left(), statusLeft);
        EXPECT_EQ(screenRect(status).top(), bottom - 32);
        // Clear Receive Data takes at least the rule's 105 pixels, more for a wide caption; the
        // status line ends 15 pixels before it.
        EXPECT_LE(screenRect(clear).left(), right - 119);
        EXPECT_EQ(exclusiveRight(screenRect(status)), screenRect(clear).left() - 15);
        EXPECT_EQ(exclusiveBottom(screenRect(status)), bottom - 16);

        EXPECT_EQ(screenRect(clear).top(), bottom - 35);
        EXPECT_EQ(exclusiveRight(screenRect(clear)), right - 14);
        EXPECT_EQ(exclusiveBottom(screenRect(clear)), bottom - 15);

        EXPECT_EQ(window.Control(Id::TransferBox)->geometry(), transferBox); // nothing else moves
    }
};

class ResizeTest : public TerminalWindowTest, public ::testing::WithParamInterface<QSize> {};

// A size below the smallest one gives the smallest one.
TEST_P(ResizeTest, ViewStatusAndClearFollowTheOuterEdge) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const EdgeFollowers followers(*window);

    window->resize(GetParam());
    const QSize expected = GetParam().expandedTo(window->minimumSize());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == expected; }, 5000));
    followers.expectPlaced(*window);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(QSize(1100, 950), QSize(820, 760), QSize(500, 400)),
                         [](const ::testing::TestParamInfo<QSize>& info) {
                             return std::to_string(info.param.width()) + "x" +
                                    std::to_string(info.param.height());
                         });

struct MoveCase {
    const char* name;
    QPoint move;
    QSize grow;
};

// Its name, in test listings and failures.
void PrintTo(const MoveCase& c, std::ostream* os) {
    *os << c.name;
}

class MoveAndResizeTest : public TerminalWindowTest,
                          public ::testing::WithParamInterface<MoveCase> {};

// What snapping, tiling and leaving maximised do: a new place and a new size in one step. The
// controls follow the new outer edge at once, not the old place with the new size.
TEST_P(MoveAndResizeTest, PlacedFromTheNewOuterEdge) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // Well inside the screen, so that no step leaves it.
    window->move(300, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->pos() == QPoint(300, 200); }, 5000));
    const EdgeFollowers followers(*window);
    const QRect target(window->geometry().topLeft() + GetParam().move,
                       window->size() + GetParam().grow);

    // From outside the widget, as a window manager's change arrives: through its window.
    window->windowHandle()->setGeometry(target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->geometry() == target; }, 5000));
    followers.expectPlaced(*window);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, MoveAndResizeTest,
    ::testing::Values(MoveCase{"RightDownAndLarger", {163, 41}, {200, 120}},
                      MoveCase{"LeftUpAndShorter", {-60, -30}, {0, -60}},
                      MoveCase{"MovedOnlyThenGrownOnlyOnItsPlace", {90, 0}, {0, 70}}),
    [](const auto& info) { return std::string(info.param.name); });

// At its smallest size every control shows whole: the menu bar with all its menus, the fixed
// controls, a receive view with rows, the status line and Clear Receive Data below it.
TEST_F(TerminalWindowTest, EveryControlShowsAtTheSmallestSize) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->resize(300, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == window->minimumSize(); }, 5000));
    EXPECT_GT(window->width(), 300);
    EXPECT_GT(window->height(), 200);

    const QRect inside = window->rect();
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isHidden() || child->isWindow())
            continue;
        EXPECT_TRUE(inside.contains(child->geometry()))
            << child->objectName().toStdString() << " at " << child->geometry().x() << ","
            << child->geometry().y() << " " << child->width() << "x" << child->height();
    }
    const auto* bar = window->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    for (QAction* menu : bar->actions())
        EXPECT_TRUE(bar->rect().contains(bar->actionGeometry(menu))) << menu->text().toStdString();

    const auto* view = qobject_cast<const ReceiveView*>(window->Control(Id::ReceiveView));
    EXPECT_GE(view->visibleRowCount(), TerminalWindowLayout::MinimumViewRows);
    const QRect viewRect = view->geometry();
    for (int id : {Id::StatusLine, Id::ClearReceiveData}) {
        EXPECT_GT(window->Control(id)->width(), 0) << id;
        EXPECT_GE(window->Control(id)->y(), viewRect.bottom()) << id;
    }
}

} // namespace
