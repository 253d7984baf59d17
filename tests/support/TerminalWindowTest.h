#pragma once

#include "tests/support/WindowFixture.h"

#include <QStringList>

#include <string>
#include <vector>

// The window tests of the terminal window's own work (start, connection, adapter list, status
// line, pin lists, leaving, layout), in one suite over several files.
class TerminalWindowTest : public WindowFixture<> {
public:
    QStringList entries(int id) const {
        QStringList items;
        for (int i = 0; i < list(id)->count(); ++i)
            items << list(id)->itemText(i);
        return items;
    }

    void clickConnect() { button(TerminalControl::Connect)->click(); }

    // The window as a not-connected user sees it.
    void expectNotConnected() const {
        EXPECT_FALSE(window->Adapter().IsConnected());
        EXPECT_EQ(button(TerminalControl::Connect)->text(), "Connect");
        EXPECT_FALSE(button(TerminalControl::Connect)->isChecked());
        EXPECT_FALSE(window->MenuAction(TerminalMenuItem::Connect)->isChecked());
        EXPECT_TRUE(list(TerminalControl::AdapterList)->isEnabled());
        EXPECT_EQ(text(TerminalControl::StatusLine), QStringLiteral("NOT CONNECTED"));
        EXPECT_FALSE(window->IsPinPollActive());
        for (int id : {TerminalControl::Gpio0Action, TerminalControl::Gpio1Action,
                       TerminalControl::Q3ResetAction}) {
            EXPECT_EQ(list(id)->currentIndex(), 2) << id;
            EXPECT_FALSE(list(id)->isEnabled()) << id;
        }
    }

    void expectOnlyError(const QString& message) const {
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, message);
        EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
        EXPECT_EQ(prompts.Prompts[0].Icon, PromptIcon::Error);
        EXPECT_EQ(prompts.Prompts[0].Buttons, PromptButtons::Ok);
    }

    std::vector<std::string> wire() const { return platform.WireSummary(); }
};
