#include "dialogs/CProgressDlg.h"

#include "dialogs/DialogBuilder.h"
#include "resources/ProgressDialogTemplate.h"
#include "tests/support/RecordingPrompts.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr int WaitBoundMs = 5000;

QProgressBar* barOf(const CProgressDlg& dialog) {
    return qobject_cast<QProgressBar*>(DialogBuilder::control(&dialog, ProgressBarControl));
}

bool waitForTitle(const CProgressDlg& dialog, const QString& title) {
    return QTest::qWaitFor([&] { return dialog.windowTitle() == title; }, WaitBoundMs);
}

TEST(CProgressDlgTest, PercentageDividesFirstThenTruncates) {
    struct Case {
        std::uint32_t Counter;
        std::uint32_t Total;
        int Expected;
    };
    const Case cases[] = {
        {0, 100, 0},     {29, 100, 28},
        {63, 100, 63},   {99, 100, 99},
        {100, 100, 100}, {1, 3, 33},
        {2, 3, 66},      {0xFFFFFFFE, 0xFFFFFFFF, 99},
        {150, 100, 150}, {0xFFFFFFFF, 0xFFFFFFFF, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CProgressDlg::Percentage(c.Counter, c.Total), c.Expected)
            << c.Counter << " of " << c.Total;
}

TEST(CProgressDlgTest, TemplateGivesTitleBarAndCancel) {
    std::atomic<std::uint32_t> counter{0};
    RecordingPrompts prompts;
    CProgressDlg dialog(&counter, 100, prompts);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File Transfer - 0%"));
    ASSERT_NE(barOf(dialog), nullptr);
    EXPECT_EQ(barOf(dialog)->minimum(), 0);
    EXPECT_EQ(barOf(dialog)->maximum(), 100);
    EXPECT_EQ(barOf(dialog)->value(), 0);
    auto* cancel = qobject_cast<QPushButton*>(DialogBuilder::control(&dialog, IdCancel));
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
}

TEST(CProgressDlgTest, TitleAndBarFollowTheCounter) {
    std::atomic<std::uint32_t> counter{0};
    RecordingPrompts prompts;
    CProgressDlg dialog(&counter, 100, prompts);
    dialog.open();
    counter = 29;
    EXPECT_TRUE(waitForTitle(dialog, QStringLiteral("File Transfer - 28%")));
    EXPECT_EQ(barOf(dialog)->value(), 29);
    counter = 63;
    EXPECT_TRUE(waitForTitle(dialog, QStringLiteral("File Transfer - 63%")));
    EXPECT_EQ(barOf(dialog)->value(), 63);
    EXPECT_EQ(dialog.titleText(), QStringLiteral("File Transfer - 63%"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(prompts.Prompts.empty());
    dialog.reject();
}

TEST(CProgressDlgTest, CompletionEndsWithOkAfterTheNotice) {
    struct Case {
        std::uint32_t Final;
        QString Text;
        QString Title;
    };
    const Case cases[] = {
        {1000, QStringLiteral("File transferred successfully"),
         QStringLiteral("File Transfer - 100%")},
        {1001, QStringLiteral("File transferred, but errors may have occurred during transmission"),
         QStringLiteral("File Transfer - 100%")},
        {1500, QStringLiteral("File transferred, but errors may have occurred during transmission"),
         QStringLiteral("File Transfer - 150%")},
    };
    for (const Case& c : cases) {
        std::atomic<std::uint32_t> counter{0};
        RecordingPrompts prompts;
        CProgressDlg dialog(&counter, 1000, prompts);
        QTimer::singleShot(30, [&] { counter = c.Final; });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, c.Text);
        EXPECT_EQ(prompts.Prompts[0].Caption, QStringLiteral("Notice"));
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Exclamation);
        EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::Ok);
        EXPECT_EQ(dialog.windowTitle(), c.Title);
        EXPECT_EQ(barOf(dialog)->value(), 1000);
    }
}

TEST(CProgressDlgTest, CancelEscapeAndCloseBoxEndWithoutNotice) {
    enum class Way { CancelButton, Escape, CloseBox };
    for (Way way : {Way::CancelButton, Way::Escape, Way::CloseBox}) {
        std::atomic<std::uint32_t> counter{40};
        RecordingPrompts prompts;
        CProgressDlg dialog(&counter, 100, prompts);
        QTimer::singleShot(50, &dialog, [&] {
            switch (way) {
            case Way::CancelButton:
                QTest::mouseClick(DialogBuilder::control(&dialog, IdCancel), Qt::LeftButton);
                break;
            case Way::Escape:
                QTest::keyClick(&dialog, Qt::Key_Escape);
                break;
            case Way::CloseBox:
                dialog.close();
                break;
            }
        });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected) << static_cast<int>(way);
        EXPECT_TRUE(prompts.Prompts.empty());
        // The title keeps its last value after the window closed.
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File Transfer - 40%"));
        counter = 100;
        // A tick still running would come before this later timer.
        bool sentinel = false;
        QTimer::singleShot(3 * CProgressDlg::TickMs, &dialog, [&] { sentinel = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return sentinel; }, 5000));
        EXPECT_TRUE(prompts.Prompts.empty());
    }
}

TEST(CProgressDlgTest, TotalsBeyondTheBarsRangeStillMove) {
    std::atomic<std::uint32_t> counter{0};
    RecordingPrompts prompts;
    CProgressDlg dialog(&counter, 0xFFFFFFF0u, prompts);
    QProgressBar* bar = barOf(dialog);
    ASSERT_GT(bar->maximum(), 0);
    dialog.open();
    counter = 0x7FFFFFF8u;
    EXPECT_TRUE(waitForTitle(dialog, QStringLiteral("File Transfer - 50%")));
    EXPECT_NEAR(static_cast<double>(bar->value()) / bar->maximum(), 0.5, 0.001);
    dialog.reject();
}

} // namespace
