#include "app/CAbout.h"

#include "dialogs/DialogBuilder.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace {

QString labelText(const CAbout& about, int id) {
    auto* label = qobject_cast<QLabel*>(DialogBuilder::control(&about, id));
    return label ? label->text() : QStringLiteral("<missing>");
}

TEST(CAboutTest, ShowsTheProductLineAndVersion) {
    CAbout about;
    EXPECT_EQ(about.windowTitle(), "About Wendrake Terminal");
    EXPECT_EQ(labelText(about, 1054), "1.5.1");

    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Orvellan Wendrake Terminal"));
    EXPECT_TRUE(texts.contains("Version"));
    // The icon control shows the application icon.
    const QList<QLabel*> labels = about.findChildren<QLabel*>();
    const bool hasIcon = std::any_of(labels.begin(), labels.end(),
                                     [](QLabel* label) { return !label->pixmap().isNull(); });
    EXPECT_TRUE(hasIcon);
}

struct CloseCase {
    const char* name;
    std::function<void(CAbout&)> close;
    QDialog::DialogCode result;
};

class CAboutCloseTest : public ::testing::TestWithParam<CloseCase> {};

TEST_P(CAboutCloseTest, Closes) {
    CAbout about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    auto* ok = qobject_cast<QPushButton*>(DialogBuilder::control(&about, 1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(about.focusWidget(), ok);

    GetParam().close(about);

    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CAboutCloseTest,
    ::testing::Values(CloseCase{"OkButton",
                                [](CAbout& a) {
                                    QTest::mouseClick(DialogBuilder::control(&a, 1),
                                                      Qt::LeftButton);
                                },
                                QDialog::Accepted},
                      CloseCase{"Enter", [](CAbout& a) { QTest::keyClick(&a, Qt::Key_Return); },
                                QDialog::Accepted},
                      CloseCase{"Escape", [](CAbout& a) { QTest::keyClick(&a, Qt::Key_Escape); },
                                QDialog::Rejected}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
