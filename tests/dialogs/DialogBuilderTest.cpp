#include "dialogs/DialogBuilder.h"

#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace ControlStyle;

DialogTemplate smallTemplate(std::vector<ControlTemplate> controls, unsigned style = 0) {
    DialogTemplate dialog;
    dialog.Id = 900;
    dialog.Title = QStringLiteral("Small");
    dialog.Width = 200;
    dialog.Height = 100;
    if (style != 0)
        dialog.Style = style;
    dialog.Controls = std::move(controls);
    return dialog;
}

std::unique_ptr<QDialog> build(const DialogTemplate& dialogTemplate) {
    auto dialog = std::make_unique<QDialog>();
    DialogBuilder(dialogTemplate).build(dialog.get());
    return dialog;
}

template <typename T> T* control(const std::unique_ptr<QDialog>& dialog, int id) {
    return qobject_cast<T*>(DialogBuilder::control(dialog.get(), id));
}

void showAndWait(QWidget* widget) {
    widget->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    widget->activateWindow();
}

TEST(DialogBuilderTest, PlacesControlsByDialogUnitsOfTheTemplateFont) {
    const DialogTemplate dialogTemplate = smallTemplate({
        {1100, ControlKind::PushButton, "Go", 10, 20, 40, 16, TabStop},
        {1101, ControlKind::Label, "Text", 0, 0, 4, 8},
    });
    const DialogBuilder builder(dialogTemplate);
    const QSize base = builder.baseUnits();
    ASSERT_GT(base.width(), 0);
    ASSERT_GT(base.height(), 0);
    // Four horizontal units are one average character, eight vertical units one line.
    EXPECT_EQ(builder.toPixels(4, 8, 4, 8),
              QRect(base.width(), base.height(), base.width(), base.height()));
    EXPECT_EQ(builder.baseUnits(), DialogBuilder::baseUnitsOf(builder.font()));

    auto dialog = build(dialogTemplate);
    EXPECT_EQ(DialogBuilder::control(dialog.get(), 1100)->geometry(),
              builder.toPixels(10, 20, 40, 16));
    EXPECT_EQ(DialogBuilder::control(dialog.get(), 1101)->geometry(),
              QRect(0, 0, base.width(), base.height()));
    EXPECT_EQ(dialog->windowTitle(), "Small");
    // A modal frame keeps the template size; a sizing border only starts there.
    EXPECT_EQ(dialog->minimumSize(), builder.toPixels(0, 0, 200, 100).size());
    EXPECT_EQ(dialog->maximumSize(), builder.toPixels(0, 0, 200, 100).size());

    auto resizable = build(smallTemplate({}, DialogStyle::Caption | DialogStyle::SizingBorder));
    EXPECT_EQ(resizable->size(), builder.toPixels(0, 0, 200, 100).size());
    EXPECT_NE(resizable->maximumSize(), resizable->size());
}

TEST(DialogBuilderTest, NamesControlsById) {
    auto dialog = build(smallTemplate({
        {1007, ControlKind::CheckBox, "Connect", 0, 0, 50, 14, TabStop | PushLike | NotAutomatic},
        {IdNone, ControlKind::GroupBox, "Frame", 0, 0, 100, 50},
        {IdOk, ControlKind::PushButton, "OK", 0, 20, 50, 14, TabStop},
    }));
    QWidget* connect = DialogBuilder::control(dialog.get(), 1007);
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect->objectName(), "id1007");
    EXPECT_EQ(dialog->findChild<QWidget*>("id1007"), connect);
    EXPECT_NE(DialogBuilder::control(dialog.get(), IdOk), nullptr);
    EXPECT_EQ(DialogBuilder::control(dialog.get(), 9999), nullptr);
    EXPECT_EQ(DialogBuilder::control(dialog.get(), IdNone), nullptr);
}

TEST(DialogBuilderTest, TabVisitsTheTabStopsInTableOrder) {
    auto dialog = std::make_unique<QDialog>();
    DialogBuilder(TerminalDialogTemplate()).build(dialog.get());
    showAndWait(dialog.get());
    QWidget* first = DialogBuilder::control(dialog.get(), TerminalControl::TransferBox);
    first->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->hasFocus(); }, 5000));

    const std::vector<int> expected = {1003, 1004, 1035, 1038, 1042, 1044, 1039, 1030,
                                       1007, 1029, 1016, 1017, 1056, 1001, 1003};
    std::vector<int> visited = {1003};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        visited.push_back(focus ? focus->objectName().mid(2).toInt() : 0);
    }
    EXPECT_EQ(visited, expected);
}

TEST(DialogBuilderTest, NotAutomaticButtonsKeepTheirStateUntilTheOwnerSetsIt) {
    auto dialog = build(smallTemplate({
        {1, ControlKind::CheckBox, "Push", 0, 0, 50, 14, TabStop | PushLike | NotAutomatic},
        {2, ControlKind::CheckBox, "Box", 0, 20, 50, 14, TabStop | NotAutomatic},
        {3, ControlKind::CheckBox, "Auto", 0, 40, 50, 14, TabStop},
    }));
    for (int id : {1, 2}) {
        auto* button = control<QAbstractButton>(dialog, id);
        ASSERT_NE(button, nullptr);
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        button->click();
        EXPECT_FALSE(button->isChecked()) << id;
        EXPECT_EQ(clicked.count(), 1) << id;
        button->setChecked(true);
        button->click();
        EXPECT_TRUE(button->isChecked()) << id;
    }
    EXPECT_NE(control<QPushButton>(dialog, 1), nullptr); // drawn as a push button

    auto* automatic = control<QAbstractButton>(dialog, 3);
    automatic->click();
    EXPECT_TRUE(automatic->isChecked());
}

TEST(DialogBuilderTest, RadioButtonsAreExclusiveWithinTheirGroupOnly) {
    auto dialog = build(smallTemplate({
        {11, ControlKind::RadioButton, "A", 0, 0, 50, 10, Group},
        {12, ControlKind::RadioButton, "B", 0, 10, 50, 10},
        {IdNone, ControlKind::GroupBox, "Other", 60, 0, 100, 50, Group},
        {13, ControlKind::RadioButton, "C", 60, 0, 50, 10, Group},
        {14, ControlKind::RadioButton, "D", 60, 10, 50, 10},
    }));
    auto* a = control<QRadioButton>(dialog, 11);
    auto* b = control<QRadioButton>(dialog, 12);
    auto* c = control<QRadioButton>(dialog, 13);
    auto* d = control<QRadioButton>(dialog, 14);

    a->setChecked(true);
    c->click();
    EXPECT_TRUE(a->isChecked());
    EXPECT_TRUE(c->isChecked());

    b->click();
    EXPECT_FALSE(a->isChecked());
    EXPECT_TRUE(b->isChecked());
    EXPECT_TRUE(c->isChecked());

    d->setChecked(true);
    EXPECT_FALSE(c->isChecked());
    EXPECT_TRUE(b->isChecked());

    // Radio buttons are reached by clicks, not by Tab.
    EXPECT_FALSE(a->focusPolicy() & Qt::TabFocus);
}

struct EnterCase {
    const char* name;
    unsigned editStyle;
    Qt::KeyboardModifiers modifiers;
    int defaultClicks;
    const char* text;
};

class EnterKeyTest : public ::testing::TestWithParam<EnterCase> {};

TEST_P(EnterKeyTest, MultiLineEditLeavesEnterToTheDefaultButtonUnlessItWantsIt) {
    auto dialog = build(smallTemplate({
        {20, ControlKind::Edit, {}, 0, 0, 100, 40, TabStop | MultiLine | GetParam().editStyle},
        {21, ControlKind::PushButton, "Send", 0, 50, 50, 14, TabStop | DefaultButton},
    }));
    showAndWait(dialog.get());
    auto* edit = control<QPlainTextEdit>(dialog, 20);
    auto* send = control<QPushButton>(dialog, 21);
    ASSERT_TRUE(send->isDefault());
    QSignalSpy clicked(send, &QPushButton::clicked);
    edit->setFocus();
    QTest::keyClicks(edit, "ab");

    QTest::keyClick(edit, Qt::Key_Return, GetParam().modifiers);

    EXPECT_EQ(clicked.count(), GetParam().defaultClicks);
    EXPECT_EQ(edit->toPlainText(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EnterKeyTest,
    ::testing::Values(EnterCase{"EnterSends", 0, Qt::NoModifier, 1, "ab"},
                      EnterCase{"CtrlEnterBreaksTheLine", 0, Qt::ControlModifier, 0, "ab\n"},
                      EnterCase{"WantReturnBreaksTheLine", WantReturn, Qt::NoModifier, 0, "ab\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DialogBuilderTest, DropDownListsHoldTheirEntriesWithNoSelection) {
    auto dialog = build(smallTemplate({
        {30, ControlKind::DropDownList, {}, 0, 0, 80, 60, TabStop, {"One", "Two", "Three"}},
        {31, ControlKind::DropDownEdit, {}, 0, 20, 80, 60, TabStop, {"300", "600"}},
    }));
    auto* list = control<QComboBox>(dialog, 30);
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(list->isEditable());
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(2), "Three");
    EXPECT_EQ(list->currentIndex(), -1);
    // The template height includes the dropped list; the closed box is one line high.
    EXPECT_LT(list->height(), DialogBuilder(smallTemplate({})).toPixels(0, 0, 0, 60).height());

    auto* editable = control<QComboBox>(dialog, 31);
    EXPECT_TRUE(editable->isEditable());
    EXPECT_EQ(editable->count(), 2);
}

TEST(DialogBuilderTest, CustomWidgetTakesThePlaceOfTheControl) {
    const DialogTemplate dialogTemplate = smallTemplate({
        {1001, ControlKind::RichEdit, {}, 5, 5, 100, 50, TabStop | ReadOnly},
    });
    DialogBuilder builder(dialogTemplate);
    builder.setCustomWidget(1001, [](const ControlTemplate& control, QWidget* parent) {
        return new QLabel(QStringLiteral("custom %1").arg(control.Id), parent);
    });
    QDialog dialog;
    builder.build(&dialog);

    auto* custom = qobject_cast<QLabel*>(DialogBuilder::control(&dialog, 1001));
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(custom->text(), "custom 1001");
    EXPECT_EQ(custom->geometry(), builder.toPixels(5, 5, 100, 50));

    // Without a hook the receive view is a read-only text view.
    auto plain = build(dialogTemplate);
    auto* view = control<QPlainTextEdit>(plain, 1001);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isReadOnly());
}

TEST(DialogBuilderTest, StandardButtonsAcceptAndReject) {
    const DialogTemplate dialogTemplate = smallTemplate({
        {IdOk, ControlKind::PushButton, "OK", 0, 0, 50, 14, TabStop | DefaultButton},
        {IdCancel, ControlKind::PushButton, "Cancel", 60, 0, 50, 14, TabStop},
    });
    for (int id : {IdOk, IdCancel}) {
        auto dialog = build(dialogTemplate);
        DialogBuilder::connectStandardButtons(dialog.get());
        dialog->show();
        control<QPushButton>(dialog, id)->click();
        EXPECT_FALSE(dialog->isVisible()) << id;
        EXPECT_EQ(dialog->result(), id == IdOk ? QDialog::Accepted : QDialog::Rejected);
    }
}

struct MenuItemCase {
    int id;
    const char* text;
    bool checked;
};

TEST(DialogBuilderTest, MenuItemsAreReachableByIdWithTheirTextsAndMarks) {
    QWidget owner;
    QMenuBar* bar = DialogBuilder::buildMenuBar(TerminalMenu(), &owner);

    const std::vector<QString> titles = {"&Terminal", "&View", "W&endrake", "&Help"};
    std::vector<QString> shown;
    for (QAction* action : bar->actions())
        shown.push_back(action->text());
    EXPECT_EQ(shown, titles);

    const MenuItemCase items[] = {
        {32771, "&Clear", false},
        {32781, "Clear Sent Transfer &Data", true},
        {32782, "Automatically Send Transfer Te&xt", false},
        {32772, "&Save ASCII Data...", false},
        {32773, "S&ave HEX Data...", false},
        {32775, "E&xit", false},
        {32774, "&Connect", false},
        {32777, "View FIFO Status...", false},
        {32778, "Purge FIFO...", false},
        {32776, "&Settings...", false},
        {32780, "&Help...", false},
        {32779, "About...", false},
        {32797, "Line Ending: &None", true},
        {32798, "Line Ending: C&R", false},
        {32799, "Line Ending: &LF", false},
        {32800, "Line Ending: CR L&F", false},
        {32801, "Automatically &Reconnect", false},
        {32790, "&Find...", false},
        {32791, "Find &Next", false},
        {32792, "Find &Previous", false},
        {32793, "&Follow New Data", true},
        {32794, "&Hold While Selecting or Scrolled Up", false},
        {32795, "Show &Timestamps", false},
        {32796, "Hex &Dump Layout", false},
    };
    for (const MenuItemCase& item : items) {
        QAction* action = DialogBuilder::menuAction(&owner, item.id);
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), item.text) << item.id;
        EXPECT_EQ(action->isChecked(), item.checked) << item.id;
        // An unchecked item draws no empty check box.
        EXPECT_EQ(action->isCheckable(), item.checked) << item.id;
    }
    EXPECT_EQ(DialogBuilder::menuAction(&owner, 12345), nullptr);

    // Separators sit where the menu has them.
    const QList<QAction*> terminal = bar->actions()[0]->menu()->actions();
    ASSERT_EQ(terminal.size(), 16);
    for (int i : {1, 4, 9, 11, 14})
        EXPECT_TRUE(terminal[i]->isSeparator()) << i;
}

TEST(DialogBuilderTest, ChoosingAMenuItemNeverChangesItsMark) {
    QWidget owner;
    DialogBuilder::buildMenuBar(TerminalMenu(), &owner);
    QAction* checkedItem = DialogBuilder::menuAction(&owner, 32781);
    QAction* plainItem = DialogBuilder::menuAction(&owner, 32774);
    QSignalSpy triggered(checkedItem, &QAction::triggered);

    checkedItem->trigger();
    plainItem->trigger();
    EXPECT_EQ(triggered.count(), 1);
    EXPECT_TRUE(checkedItem->isChecked());
    EXPECT_FALSE(plainItem->isChecked());

    DialogBuilder::setMenuChecked(plainItem, true);
    DialogBuilder::setMenuChecked(checkedItem, false);
    checkedItem->trigger();
    plainItem->trigger();
    EXPECT_FALSE(checkedItem->isChecked());
    EXPECT_TRUE(plainItem->isChecked());
}

} // namespace

namespace {

// A one-line caption never touches its button's edges: one too wide for its face gets a smaller
// font, one that fits keeps the dialog's; the terminal window's own buttons all clear theirs.
TEST(DialogBuilderTest, ButtonCaptionsClearTheirEdges) {
    struct Case {
        const char* Caption;
        int Width; // dialog units
        unsigned Style;
        ControlKind Kind;
        bool Shrunk;
    };
    const Case cases[] = {
        {"Clear Receive Data", 62, TabStop, ControlKind::PushButton, true},
        {"&Clear Receive Data", 62, TabStop, ControlKind::PushButton, true},
        {"Capture Receive Data to File", 90, PushLike | TabStop, ControlKind::CheckBox, true},
        {"Go", 40, TabStop, ControlKind::PushButton, false},
    };
    for (const Case& c : cases) {
        const auto dialog =
            build(smallTemplate({{1100, c.Kind, c.Caption, 0, 0, c.Width, 12, c.Style}}));
        auto* button = control<QAbstractButton>(dialog, 1100);
        ASSERT_NE(button, nullptr) << c.Caption;
        const QString caption = QString(c.Caption).remove(QLatin1Char('&'));
        EXPECT_GE(button->width() - button->fontMetrics().horizontalAdvance(caption), 8)
            << c.Caption;
        EXPECT_EQ(button->font().pointSizeF() < dialog->font().pointSizeF(), c.Shrunk) << c.Caption;
    }

    QDialog terminal;
    DialogBuilder(TerminalDialogTemplate()).build(&terminal);
    // One-line buttons and push-like check boxes, as the window first shows them.
    for (const int id : {1007, 1004, 1035, 1038, 1042, 1044}) {
        auto* button = qobject_cast<QAbstractButton*>(DialogBuilder::control(&terminal, id));
        ASSERT_NE(button, nullptr) << id;
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        EXPECT_GE(button->width() - button->fontMetrics().horizontalAdvance(caption), 8)
            << caption.toStdString();
    }
}

} // namespace
