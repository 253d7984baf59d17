#pragma once

#include "connection/ReceivedText.h"

#include <QString>

class CommandWindow;
class TerminalPrompts;
class TerminalSession;

// The window's capture and save commands: the capture file's name and its start and stop, and
// the saving of the received text as ASCII or hex. The window's handlers forward here.
class CaptureCommands {
public:
    // receiveFileName and captureActive: the window's bound members of the file box and the
    // capture button, which these commands set.
    CaptureCommands(CommandWindow& window, TerminalSession& session, const TerminalPrompts& prompts,
                    QString& receiveFileName, int& captureActive)
        : m_window(window), m_session(session), m_prompts(prompts),
          m_receiveFileName(receiveFileName), m_captureActive(captureActive) {}

    void BrowseReceiveFile();
    void ToggleCapture();
    void SaveAsciiData();
    void SaveHexData();

private:
    void saveTextToFile(const QString& defaultFileName, const ReceivedText::Snapshot& text);

    CommandWindow& m_window;
    TerminalSession& m_session;
    const TerminalPrompts& m_prompts;
    QString& m_receiveFileName;
    int& m_captureActive;
};
