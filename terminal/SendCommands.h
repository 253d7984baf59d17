#pragma once

#include <cstdint>

class CommandWindow;
class TerminalPrompts;
class TerminalSession;

// The window's send commands: the transfer box's text (Send Data, or each change while
// automatic send is on), the two send options of the menu, and Send File with its progress
// window. The window's handlers forward here.
class SendCommands {
public:
    SendCommands(CommandWindow& window, TerminalSession& session, const TerminalPrompts& prompts)
        : m_window(window), m_session(session), m_prompts(prompts) {}

    void SendData();
    void TransferTextChanged();
    void ToggleClearSentTransferData();
    void ToggleAutoSendTransferText();
    void SendFile();

private:
    void sendBox(bool automatic);
    void toggleOption(std::int32_t& flag, int menuItemId);

    CommandWindow& m_window;
    TerminalSession& m_session;
    const TerminalPrompts& m_prompts;
};
