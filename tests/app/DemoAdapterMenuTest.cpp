#include "app/DemoAdapterMenu.h"

#include "app/CWendrakeTerminalApp.h"
#include "emulator/EmulatedHidPlatform.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenuItems.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "tests/support/RecordingPrompts.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The demo's window as its program builds it: the emulated platform, the demo menu in the bar.
class DemoAdapterMenuTest : public ::testing::Test {
protected:
    DemoAdapterMenuTest() {
        auto emulated = std::make_unique<EmulatedHidPlatform>();
        platform = emulated.get();
        menu = std::make_unique<DemoAdapterMenu>(*platform);
        app = std::make_unique<CWendrakeTerminalApp>(
            std::move(emulated), std::make_unique<RecordingPrompts>(), settings.path());
        app->SetWindowExtras([this](CWendrakeTerminalDlg& w) { menu->AddTo(&w); });
        window = app->CreateMainWindow();
    }

    QStringList listed() const {
        auto* list = qobject_cast<QComboBox*>(window->Control(TerminalControl::AdapterList));
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        return entries;
    }

    QTemporaryDir settings;
    EmulatedHidPlatform* platform = nullptr;
    std::unique_ptr<DemoAdapterMenu> menu;
    std::unique_ptr<CWendrakeTerminalApp> app;
    std::unique_ptr<CWendrakeTerminalDlg> window;
};

TEST_F(DemoAdapterMenuTest, MenuSitsBeforeHelpAndReachesTheAdapterList) {
    const QList<QAction*> menus = window->findChild<QMenuBar*>()->actions();
    ASSERT_GE(menus.size(), 2);
    EXPECT_EQ(menus[menus.size() - 2]->text(), "&Demo");
    EXPECT_EQ(menus.last()->text(), "&Help");

    struct Step {
        const char* name;
        void (DemoAdapterMenu::*toggle)();
        QStringList listed;
        QString first, second;
    };
    const Step steps[] = {
        {"at start",
         nullptr,
         {"WDK-DEMO-0001"},
         "&Unplug Adapter WDK-DEMO-0001",
         "Plug In &Second Adapter WDK-DEMO-0002"},
        {"second plugged in",
         &DemoAdapterMenu::ToggleSecond,
         {"WDK-DEMO-0001", "WDK-DEMO-0002"},
         "&Unplug Adapter WDK-DEMO-0001",
         "Unplug &Second Adapter WDK-DEMO-0002"},
        {"first unplugged",
         &DemoAdapterMenu::ToggleFirst,
         {"WDK-DEMO-0002"},
         "&Plug In Adapter WDK-DEMO-0001",
         "Unplug &Second Adapter WDK-DEMO-0002"},
        {"first back, last in the enumeration",
         &DemoAdapterMenu::ToggleFirst,
         {"WDK-DEMO-0002", "WDK-DEMO-0001"},
         "&Unplug Adapter WDK-DEMO-0001",
         "Unplug &Second Adapter WDK-DEMO-0002"},
        {"second unplugged",
         &DemoAdapterMenu::ToggleSecond,
         {"WDK-DEMO-0001"},
         "&Unplug Adapter WDK-DEMO-0001",
         "Plug In &Second Adapter WDK-DEMO-0002"},
        {"second back",
         &DemoAdapterMenu::ToggleSecond,
         {"WDK-DEMO-0001", "WDK-DEMO-0002"},
         "&Unplug Adapter WDK-DEMO-0001",
         "Unplug &Second Adapter WDK-DEMO-0002"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.toggle == &DemoAdapterMenu::ToggleFirst)
            menu->FirstAction()->trigger();
        else if (step.toggle)
            menu->SecondAction()->trigger();
        EXPECT_EQ(listed(), step.listed);
        EXPECT_EQ(menu->FirstAction()->text(), step.first);
        EXPECT_EQ(menu->SecondAction()->text(), step.second);
    }
}

// What the menu is for: the connected adapter pulled out ends the connection, and with
// automatic reconnect on, plugging it back in connects again.
TEST_F(DemoAdapterMenuTest, UnplugAndReplugTheConnectedAdapter) {
    window->MenuAction(TerminalMenuItem::AutoReconnect)->trigger();
    qobject_cast<QAbstractButton*>(window->Control(TerminalControl::Connect))->click();
    ASSERT_TRUE(window->Adapter().IsConnected());

    menu->FirstAction()->trigger();
    window->Session().PollPins();
    EXPECT_FALSE(window->Adapter().IsConnected());
    EXPECT_EQ(window->ReconnectSerial(), "WDK-DEMO-0001");

    menu->FirstAction()->trigger();
    EXPECT_TRUE(window->Adapter().IsConnected());
    EXPECT_TRUE(window->ReconnectSerial().isEmpty());
}

} // namespace
