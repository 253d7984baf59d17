#include "app/CWendrakeTerminalApp.h"

#include "app/CAbout.h"
#include "terminal/CWendrakeTerminalDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>

CWendrakeTerminalApp::CWendrakeTerminalApp(std::unique_ptr<HidPlatform> platform,
                                           std::unique_ptr<UserPrompts> prompts,
                                           SettingsFolder settings)
    : m_platform(std::move(platform)), m_prompts(std::move(prompts)),
      m_settings(std::move(settings)) {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

CWendrakeTerminalApp::~CWendrakeTerminalApp() {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

std::unique_ptr<CWendrakeTerminalDlg> CWendrakeTerminalApp::CreateMainWindow() {
    auto window = std::make_unique<CWendrakeTerminalDlg>(m_adapter, m_notices, m_access, *m_prompts,
                                                         m_settings, nullptr);
    // Owned by the window, so window managers keep it a dialog of the window, without
    // minimise or maximise boxes.
    window->SetAboutBox([owner = window.get()] {
        CAbout about(owner);
        about.exec();
    });
    if (m_windowExtras)
        m_windowExtras(*window);
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

// The hidden pin test: Ctrl down, then Shift down while Ctrl is noted, then T. Any other key
// down, or any key up, starts over. Qt may show one key event here several times on its way
// (window, focus widget, parents); every step below gives the same result when repeated.
bool CWendrakeTerminalApp::PreTranslateMessage(QObject* receiver, QEvent* event) {
    (void)receiver;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    const auto* keyEvent = static_cast<const QKeyEvent*>(event);
    const int key = keyEvent->key();
    // Keys with Alt are system keys, which the watch does not look at.
    if (key == Qt::Key_Alt || (keyEvent->modifiers() & Qt::AltModifier))
        return false;

    if (type == QEvent::KeyRelease) {
        // Auto-repeat sends releases between repeated presses; only a real release counts.
        if (!keyEvent->isAutoRepeat()) {
            CtrlDown = false;
            ShiftDown = false;
        }
        return false;
    }

    switch (key) {
    case Qt::Key_Control:
        CtrlDown = true;
        return false;
    case Qt::Key_Shift:
        if (CtrlDown)
            ShiftDown = true;
        return false;
    case Qt::Key_T:
        if (!CtrlDown || !ShiftDown)
            return false;
        // Consumed even when nothing opens (not connected). The flags stay until a key-up.
        if (m_mainWindow)
            m_mainWindow->OnPinTest();
        return true;
    default:
        CtrlDown = false;
        ShiftDown = false;
        return false;
    }
}
