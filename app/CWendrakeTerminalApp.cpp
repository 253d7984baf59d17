#include "app/CWendrakeTerminalApp.h"

#include "app/CAbout.h"
#include "terminal/CWendrakeTerminalDlg.h"

#include <QCoreApplication>
#include <QEvent>

CWendrakeTerminalApp::CWendrakeTerminalApp(std::unique_ptr<HidPlatform> platform,
                                           std::unique_ptr<UserPrompts> prompts,
                                           QString settingsDirectory)
    : m_platform(std::move(platform)), m_prompts(std::move(prompts)),
      m_settingsDirectory(std::move(settingsDirectory)) {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

CWendrakeTerminalApp::~CWendrakeTerminalApp() {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

std::unique_ptr<CWendrakeTerminalDlg> CWendrakeTerminalApp::CreateMainWindow() {
    auto window = std::make_unique<CWendrakeTerminalDlg>(*m_platform, *m_prompts,
                                                         m_settingsDirectory, nullptr);
    window->SetAboutBox([] {
        CAbout about;
        about.exec();
    });
    return window;
}

bool CWendrakeTerminalApp::InitInstance() {
    std::unique_ptr<CWendrakeTerminalDlg> window = CreateMainWindow();
    m_mainWindow = window.get();
    window->exec();
    m_mainWindow = nullptr;
    window.reset();
    return false;
}

bool CWendrakeTerminalApp::eventFilter(QObject* watched, QEvent* event) {
    return PreTranslateMessage(watched, event);
}

bool CWendrakeTerminalApp::PreTranslateMessage(QObject* receiver, QEvent* event) {
    // The Ctrl, Shift, T watch for the pin test dialog comes with the pins work.
    (void)receiver;
    (void)event;
    return false;
}
