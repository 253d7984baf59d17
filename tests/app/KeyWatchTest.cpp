#include "app/CWendrakeTerminalApp.h"

#include "dialogs/DialogBuilder.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/PinTestDialogTemplate.h"
#include "resources/SettingsDialogTemplate.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "tests/support/RecordingPrompts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

namespace Id = TerminalControl;

// Notes the keys that reach a widget.
class KeyRecorder : public QObject {
public:
    std::vector<int> Pressed;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress)
            Pressed.push_back(static_cast<QKeyEvent*>(event)->key());
        return false;
    }
};

// One key event through the application, as the window system delivers it. (QTest's own key
// functions add presses of the modifier keys, which would feed the watch keys of their own.)
void sendKey(QWidget* widget, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = {}) {
    QKeyEvent event(type, key, modifiers);
    QApplication::sendEvent(widget, &event);
}

enum class Step { Down, Up };
struct KeyStep {
    Step step;
    Qt::Key key;
};

class KeyWatchTest : public ::testing::Test {
protected:
    KeyWatchTest() {
        auto emulated = std::make_unique<EmulatedHidPlatform>();
        platform = emulated.get();
        firmware = &platform->AddAdapter("KW0001");
        auto recording = std::make_unique<RecordingPrompts>();
        prompts = recording.get();
        app = std::make_unique<CWendrakeTerminalApp>(std::move(emulated), std::move(recording),
                                                     settingsDir.path());
        window = app->CreateMainWindow();
        app->SetMainWindow(window.get());
        target = window->Control(Id::TransferBox);
        target->installEventFilter(&recorder);
    }
    ~KeyWatchTest() override {
        app->SetMainWindow(nullptr);
        window.reset();
        app.reset();
    }

    void connectWindow() {
        qobject_cast<QAbstractButton*>(window->Control(Id::Connect))->click();
        ASSERT_TRUE(window->Adapter().IsConnected());
    }

    // Presses and releases keys on widget with the modifiers a keyboard would report, and
    // returns the title of the modal dialog they opened (closed again at once), or "".
    enum class Closing { Escape, Done };
    static QString titleOpenedBy(QWidget* widget, const std::vector<KeyStep>& steps,
                                 Closing closing = Closing::Escape) {
        QString title;
        QTimer::singleShot(0, [&title, closing] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                title = modal->windowTitle();
                if (closing == Closing::Escape)
                    QTest::keyClick(modal, Qt::Key_Escape);
                else
                    qobject_cast<QAbstractButton*>(
                        DialogBuilder::control(modal, PinTestControl::Done))
                        ->click();
            }
        });
        Qt::KeyboardModifiers held;
        for (const KeyStep& s : steps) {
            const Qt::KeyboardModifier modifier = s.key == Qt::Key_Control ? Qt::ControlModifier
                                                  : s.key == Qt::Key_Shift ? Qt::ShiftModifier
                                                                           : Qt::NoModifier;
            if (s.step == Step::Down) {
                held |= modifier;
                sendKey(widget, QEvent::KeyPress, s.key, held);
            } else {
                held &= ~modifier;
                sendKey(widget, QEvent::KeyRelease, s.key, held);
            }
        }
        QApplication::processEvents(); // the single shot, had nothing opened
        return title;
    }

    // Every key up, so the next sequence starts clean.
    void releaseAll() {
        for (Qt::Key key : {Qt::Key_T, Qt::Key_Shift, Qt::Key_Control})
            sendKey(target, QEvent::KeyRelease, key);
        recorder.Pressed.clear();
    }

    QTemporaryDir settingsDir;
    EmulatedHidPlatform* platform = nullptr;
    AdapterFirmware* firmware = nullptr;
    RecordingPrompts* prompts = nullptr;
    std::unique_ptr<CWendrakeTerminalApp> app;
    std::unique_ptr<CWendrakeTerminalDlg> window;
    QWidget* target = nullptr;
    KeyRecorder recorder;
};

const QString PinTestTitle = QStringLiteral("Suspend and VPPCTL Pin Test");

TEST_F(KeyWatchTest, SequencesWhileConnected) {
    using enum Step;
    struct Case {
        const char* name;
        std::vector<KeyStep> steps;
        bool opens;
    };
    const std::vector<Case> cases{
        {"Ctrl Shift T", {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}}, true},
        {"Shift Ctrl T",
         {{Down, Qt::Key_Shift}, {Down, Qt::Key_Control}, {Down, Qt::Key_T}},
         false},
        {"Ctrl Shift A T",
         {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_A}, {Down, Qt::Key_T}},
         false},
        {"Ctrl Shift, Shift up, T",
         {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Up, Qt::Key_Shift}, {Down, Qt::Key_T}},
         false},
        {"Ctrl, Ctrl up, Shift T",
         {{Down, Qt::Key_Control}, {Up, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}},
         false},
        {"Ctrl held, Shift pressed twice, T",
         {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}},
         true},
    };
    connectWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        releaseAll();
        EXPECT_EQ(titleOpenedBy(target, c.steps), c.opens ? PinTestTitle : QString());
        // An opening T is consumed; any other T reaches the focused control.
        const bool tSeen = std::find(recorder.Pressed.begin(), recorder.Pressed.end(), Qt::Key_T) !=
                           recorder.Pressed.end();
        EXPECT_EQ(tSeen, !c.opens);
        // Escape closed the dialog with Cancel: still connected, window poll back on.
        EXPECT_TRUE(window->Adapter().IsConnected());
        EXPECT_TRUE(window->IsPinPollActive());
    }
}

TEST_F(KeyWatchTest, TIsConsumedButNothingOpensWhenNotConnected) {
    using enum Step;
    EXPECT_EQ(
        titleOpenedBy(target, {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}}),
        QString());
    EXPECT_EQ(std::count(recorder.Pressed.begin(), recorder.Pressed.end(), Qt::Key_T), 0);
    EXPECT_TRUE(prompts->Prompts.empty());
    EXPECT_TRUE(platform->Wire().empty());
}

TEST_F(KeyWatchTest, FlagsStayAfterTheSequenceUntilAKeyUp) {
    using enum Step;
    connectWindow();
    // Done closes the dialog without a key, so no key-up reaches the watch.
    const Closing byDone = Closing::Done;
    EXPECT_EQ(titleOpenedBy(target,
                            {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}},
                            byDone),
              PinTestTitle);
    EXPECT_TRUE(app->CtrlDown);
    EXPECT_TRUE(app->ShiftDown);
    // T again while both are held: opens once more.
    EXPECT_EQ(titleOpenedBy(target, {{Down, Qt::Key_T}}, byDone), PinTestTitle);
    // Releasing T starts over; the next T alone is passed on.
    EXPECT_EQ(titleOpenedBy(target, {{Up, Qt::Key_T}, {Down, Qt::Key_T}}, byDone), QString());
    EXPECT_FALSE(app->CtrlDown);
    EXPECT_FALSE(app->ShiftDown);
}

TEST_F(KeyWatchTest, WorksWhileTheSettingsDialogIsOpen) {
    using enum Step;
    connectWindow();
    QString settingsTitle;
    QString opened;
    QTimer::singleShot(0, [&] {
        QWidget* settings = QApplication::activeModalWidget();
        ASSERT_NE(settings, nullptr);
        settingsTitle = settings->windowTitle();
        QWidget* focus = DialogBuilder::control(settings, SettingsControl::BaudRate);
        opened = titleOpenedBy(focus,
                               {{Down, Qt::Key_Control}, {Down, Qt::Key_Shift}, {Down, Qt::Key_T}});
        qobject_cast<QAbstractButton*>(DialogBuilder::control(settings, IdCancel))->click();
    });
    window->MenuAction(TerminalMenuItem::Settings)->trigger();
    EXPECT_EQ(settingsTitle, "Wendrake Settings");
    EXPECT_EQ(opened, PinTestTitle);
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_TRUE(window->IsPinPollActive());
}

TEST_F(KeyWatchTest, AltHeldKeysAreNotWatched) {
    connectWindow();
    sendKey(target, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    sendKey(target, QEvent::KeyPress, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
    // A system key neither resets the watch nor completes it.
    sendKey(target, QEvent::KeyPress, Qt::Key_A,
            Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    sendKey(target, QEvent::KeyRelease, Qt::Key_A,
            Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_TRUE(app->CtrlDown);
    EXPECT_TRUE(app->ShiftDown);
    EXPECT_EQ(titleOpenedBy(target, {{Step::Down, Qt::Key_T}}), PinTestTitle);
}

} // namespace
