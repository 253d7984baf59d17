#pragma once

class CommandWindow;
class TerminalPrompts;
class TerminalSession;

// The window's pin, FIFO and settings commands: Set Pin States from the three action lists,
// the FIFO counts and purge, the settings dialog and the hidden pin test. The window's
// handlers forward here.
class PinCommands {
public:
    PinCommands(CommandWindow& window, TerminalSession& session, const TerminalPrompts& prompts)
        : m_window(window), m_session(session), m_prompts(prompts) {}

    void SetPinStates();
    void ViewFifoStatus();
    void PurgeFifo();
    void Settings();
    void PinTest();

private:
    CommandWindow& m_window;
    TerminalSession& m_session;
    const TerminalPrompts& m_prompts;
    // One pin test dialog at a time: its own poll stands in for the window's while it is open.
    bool m_pinTestOpen = false;
};
