#include "terminal/TransferBox.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A dialog with the box and a default button, as in the terminal window.
class TransferBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&dialog);
        box = new TransferBox(&dialog);
        button = new QPushButton(QStringLiteral("Send Data"), &dialog);
        button->setDefault(true);
        layout->addWidget(box);
        layout->addWidget(button);
        dialog.show();
        box->setFocus();
        QApplication::setActiveWindow(&dialog);
    }

    QDialog dialog;
    TransferBox* box = nullptr;
    QPushButton* button = nullptr;
};

TEST_F(TransferBoxTest, EnterPressesTheDefaultButtonAndTypesNothing) {
    QSignalSpy clicked(button, &QPushButton::clicked);
    QSignalSpy changed(box, &TransferBox::userTextChanged);
    QTest::keyClicks(box, QStringLiteral("AT"));
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(box->text(), QStringLiteral("AT"));
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(TransferBoxTest, CtrlEnterTypesALineBreakHeldAsCrLf) {
    QSignalSpy clicked(button, &QPushButton::clicked);
    QSignalSpy changed(box, &TransferBox::userTextChanged);
    QTest::keyClicks(box, QStringLiteral("41"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClicks(box, QStringLiteral("42"));
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(box->text(), QStringLiteral("41\r\n42"));
    EXPECT_EQ(changed.count(), 5);
}

TEST_F(TransferBoxTest, ProgramSetTextRaisesNoChange) {
    QSignalSpy changed(box, &TransferBox::userTextChanged);
    box->setText(QStringLiteral("A\r\nB"));
    EXPECT_EQ(box->text(), QStringLiteral("A\r\nB"));
    box->setText(QString());
    EXPECT_EQ(box->text(), QString());
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(TransferBoxTest, PasteAndDeleteAreUserChanges) {
    QSignalSpy changed(box, &TransferBox::userTextChanged);
    QApplication::clipboard()->setText(QStringLiteral("41 42\r\n43"));
    box->paste();
    EXPECT_EQ(box->text(), QStringLiteral("41 42\r\n43"));
    EXPECT_EQ(changed.count(), 1);
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), QStringLiteral("41 42\r\n4"));
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(TransferBoxTest, CharactersTheDocumentWouldChangeReadBackAsTheyCame) {
    // Each way text comes in: set by the program, pasted, committed by an input method.
    const QString odd = QStringLiteral("A\rB\u00A0C\u2028D\u2029E\r\nF\r");
    const QString held = QStringLiteral("A\rB\u00A0C\u2028D\uFFFDE\r\nF\r");
    box->setText(odd);
    EXPECT_EQ(box->text(), held);
    box->setText(QString());
    QApplication::clipboard()->setText(odd);
    box->paste();
    EXPECT_EQ(box->text(), held);
    box->setText(QString());
    QInputMethodEvent commit;
    commit.setCommitString(odd);
    QApplication::sendEvent(box, &commit);
    EXPECT_EQ(box->text(), held);

    // Copied out, a lone CR and the no-break space survive; a line break is the desktop's LF.
    box->selectAll();
    box->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("A\rB\u00A0C\u2028D\uFFFDE\nF\r"));
    box->setText(QString());
    box->paste();
    EXPECT_EQ(box->text(), held);
    // Undo of the paste brings back the empty box, not a converted text.
    box->undo();
    EXPECT_EQ(box->text(), QString());
}

TEST_F(TransferBoxTest, ClearingFromTheChangeHandlerIsSafe) {
    // The automatic send empties the box from inside its own change notice.
    QObject::connect(box, &TransferBox::userTextChanged, box, [this] { box->setText(QString()); });
    QTest::keyClicks(box, QStringLiteral("41"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(box->text(), QString());
    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box->text(), QString());
}

} // namespace
