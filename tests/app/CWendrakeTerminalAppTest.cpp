#include "app/CWendrakeTerminalApp.h"

#include "app/CAbout.h"
#include "dialogs/DialogBuilder.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/TerminalMenu.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "tests/support/RecordingPrompts.h"
#include "tests/support/WhenModal.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class TerminalAppTest : public ::testing::Test {
protected:
    TerminalAppTest() {
        auto emulated = std::make_unique<EmulatedHidPlatform>();
        platform = emulated.get();
        auto recording = std::make_unique<RecordingPrompts>();
        prompts = recording.get();
        app = std::make_unique<CWendrakeTerminalApp>(std::move(emulated), std::move(recording),
                                                     settingsDir.path());
    }

    QTemporaryDir settingsDir;
    EmulatedHidPlatform* platform = nullptr;
    RecordingPrompts* prompts = nullptr;
    std::unique_ptr<CWendrakeTerminalApp> app;
};

TEST_F(TerminalAppTest, InitInstanceRunsTheWindowUntilItClosesAndReturnsFalse) {
    platform->AddAdapter("SER-A");
    QPointer<QWidget> seen;
    QWidget* seenWidget = nullptr;
    CWendrakeTerminalDlg* mainWindowDuringRun = nullptr;
    QString firstAdapter;
    whenModal([&](QWidget* modal) {
        seen = modal;
        seenWidget = modal;
        mainWindowDuringRun = app->MainWindow();
        if (auto* window = qobject_cast<CWendrakeTerminalDlg*>(modal)) {
            firstAdapter = qobject_cast<QComboBox*>(window->Control(1030))->itemText(0);
        }
        QTest::keyClick(modal, Qt::Key_Escape);
    });

    EXPECT_FALSE(app->InitInstance());

    EXPECT_NE(mainWindowDuringRun, nullptr);
    EXPECT_EQ(static_cast<QWidget*>(mainWindowDuringRun), seenWidget);
    EXPECT_TRUE(seen.isNull()); // the window object is gone after the run
    EXPECT_EQ(app->MainWindow(), nullptr);
    EXPECT_EQ(firstAdapter, "SER-A");
}

TEST_F(TerminalAppTest, AboutFromTheHelpMenuShowsTheVersion) {
    std::unique_ptr<CWendrakeTerminalDlg> window = app->CreateMainWindow();
    QString version;
    bool wasAbout = false;
    whenModal([&](QWidget* modal) {
        wasAbout = qobject_cast<CAbout*>(modal) != nullptr;
        if (auto* label = qobject_cast<QLabel*>(DialogBuilder::control(modal, 1054)))
            version = label->text();
        QTest::keyClick(modal, Qt::Key_Return);
    });

    window->MenuAction(TerminalMenuItem::About)->trigger();

    EXPECT_TRUE(wasAbout);
    EXPECT_EQ(version, "1.5.1");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(TerminalAppTest, TheKeyWatchPassesOrdinaryTypingOn) {
    QLineEdit edit;
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClicks(&edit, "Tt 41");
    EXPECT_EQ(edit.text(), "Tt 41");
}

// The modal dialogs belong to the window: window managers keep them over it, with a dialog's
// frame (title and close box only) and a size the user cannot change.
TEST_F(TerminalAppTest, ModalDialogsHaveTheWindowAsOwnerAndADialogFrame) {
    platform->AddAdapter("SER-A");
    std::unique_ptr<CWendrakeTerminalDlg> window = app->CreateMainWindow();
    qobject_cast<QAbstractButton*>(window->Control(1007))->click();
    ASSERT_TRUE(window->Adapter().IsConnected());

    const std::pair<const char*, std::function<void()>> commands[] = {
        {"About", [&] { window->MenuAction(TerminalMenuItem::About)->trigger(); }},
        {"Settings", [&] { window->MenuAction(TerminalMenuItem::Settings)->trigger(); }},
        {"Pin test", [&] { window->OnPinTest(); }},
    };
    for (const auto& [name, open] : commands) {
        SCOPED_TRACE(name);
        QWidget* owner = nullptr;
        Qt::WindowFlags flags;
        bool fixedSize = false;
        whenModal([&](QWidget* modal) {
            owner = modal->parentWidget();
            flags = modal->windowFlags();
            fixedSize = modal->minimumSize() == modal->maximumSize();
            static_cast<QDialog*>(modal)->reject();
        });
        open();
        EXPECT_EQ(owner, window.get());
        EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
        EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(fixedSize);
    }
}

} // namespace
