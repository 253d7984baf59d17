#include "tests/support/TerminalWindowTest.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QTest>

#include <gtest/gtest.h>

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

class ResizeTest : public TerminalWindowTest, public ::testing::WithParamInterface<QSize> {};

TEST_P(ResizeTest, ViewStatusAndClearFollowTheOuterEdge) {
    openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QWidget* view = window->Control(Id::ReceiveView);
    QWidget* status = window->Control(Id::StatusLine);
    QWidget* clear = window->Control(Id::ClearReceiveData);
    const QPoint viewTopLeft = view->geometry().topLeft();
    const int statusLeft = status->geometry().left();
    const QRect transferBox = window->Control(Id::TransferBox)->geometry();

    window->resize(GetParam());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == GetParam(); }, 5000));

    // Outer rectangle with exclusive right and bottom edges, in screen pixels.
    const QRect outer = window->frameGeometry();
    const int right = outer.x() + outer.width();
    const int bottom = outer.y() + outer.height();
    const auto screenRect = [&](QWidget* w) {
        const QPoint topLeft = window->mapToGlobal(w->geometry().topLeft());
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

    EXPECT_EQ(window->Control(Id::TransferBox)->geometry(), transferBox); // nothing else moves
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(QSize(1100, 950), QSize(820, 760), QSize(500, 400)));

} // namespace
