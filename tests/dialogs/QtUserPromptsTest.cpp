#include "dialogs/QtUserPrompts.h"

#include "tests/support/WhenModal.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct DefaultCase {
    const char* name;
    PromptButtons buttons;
    QMessageBox::StandardButton expectedDefault;
    PromptAnswer enterAnswers;
};

// Its name, in test listings and failures.
void PrintTo(const DefaultCase& c, std::ostream* os) {
    *os << c.name;
}

class QtUserPromptsQuestion : public ::testing::TestWithParam<DefaultCase> {};

// The real question box: which answer Enter gives, and Escape always No.
TEST_P(QtUserPromptsQuestion, EnterTakesTheDefaultAndEscapeSaysNo) {
    const DefaultCase& c = GetParam();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QtUserPrompts prompts;
        QMessageBox::StandardButton shownDefault = QMessageBox::NoButton;
        whenModal([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->defaultButton())
                shownDefault = box->standardButton(box->defaultButton());
            QTest::keyClick(modal, key);
        });
        const PromptAnswer answer =
            prompts.Message(nullptr, "Go on?", "Notice", PromptIcon::Question, c.buttons);
        EXPECT_EQ(shownDefault, c.expectedDefault);
        EXPECT_EQ(answer, key == Qt::Key_Return ? c.enterAnswers : PromptAnswer::No);
    }
}

INSTANTIATE_TEST_SUITE_P(Buttons, QtUserPromptsQuestion,
                         ::testing::Values(DefaultCase{"YesNo", PromptButtons::YesNo,
                                                       QMessageBox::Yes, PromptAnswer::Yes},
                                           DefaultCase{"YesNoDefaultNo",
                                                       PromptButtons::YesNoDefaultNo,
                                                       QMessageBox::No, PromptAnswer::No}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
