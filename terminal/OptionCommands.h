#pragma once

#include "config/TerminalOptions.h"

class CommandWindow;
class ReceiveView;
class TerminalSession;

// The options of the View and Terminal menus: their check marks, what each option toggles and
// the receive view following them.
// Every change is kept at once; a file that cannot be written is silent, like the settings.
class OptionCommands {
public:
    OptionCommands(CommandWindow& window, TerminalSession& session)
        : m_window(window), m_session(session) {}

    // Check marks and the view follow the options record; turning automatic reconnect off ends
    // a wait for a lost adapter.
    void Apply(ReceiveView* view);
    void Toggle(bool TerminalOptions::*option, ReceiveView* view);
    void SetLineEnding(LineEnding ending, ReceiveView* view);

private:
    CommandWindow& m_window;
    TerminalSession& m_session;
};
