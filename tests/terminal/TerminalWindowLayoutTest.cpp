#include "tests/support/TerminalWindowTest.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

// The terminal window's resize rule: what follows the outer edge, and the Clear Receive Data
// caption within its fixed face.

namespace {

namespace Id = TerminalControl;

// The resize rule gives "Clear Receive Data" a face of fixed pixels: its caption must still
// clear the edges there, at the first size and after resizing.
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
        const int spare = clear->width() - clear->fontMetrics().horizontalAdvance(clear->text());
        EXPECT_GE(spare, 8) << size.width() << "x" << size.height();
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
    EXPECT_EQ(exclusiveRight(screenRect(status)), right - 134);
    EXPECT_EQ(exclusiveBottom(screenRect(status)), bottom - 16);

    EXPECT_EQ(screenRect(clear).left(), right - 119);
    EXPECT_EQ(screenRect(clear).top(), bottom - 35);
    EXPECT_EQ(exclusiveRight(screenRect(clear)), right - 14);
    EXPECT_EQ(exclusiveBottom(screenRect(clear)), bottom - 15);

    EXPECT_EQ(window->Control(Id::TransferBox)->geometry(), transferBox); // nothing else moves
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(QSize(1100, 950), QSize(820, 760), QSize(500, 400)));

} // namespace
