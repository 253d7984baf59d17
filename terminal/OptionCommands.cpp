#include "terminal/OptionCommands.h"

#include "resources/DialogBuilder.h"
#include "resources/TerminalMenu.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "terminal/ReceiveView.h"
#include "terminal/TerminalSession.h"

#include <QAction>

void OptionCommands::ConnectMenu() {
    namespace Menu = TerminalMenuItem;
    CWendrakeTerminalDlg* window = &m_window;
    const auto onMenu = [window](int id, auto handler, const QKeySequence& shortcut = {}) {
        if (QAction* action = window->MenuAction(id)) {
            QObject::connect(action, &QAction::triggered, window, handler);
            if (!shortcut.isEmpty())
                action->setShortcut(shortcut);
        }
    };
    onMenu(Menu::Find, &CWendrakeTerminalDlg::OnFind, QKeySequence(Qt::CTRL | Qt::Key_F));
    onMenu(Menu::FindNext, &CWendrakeTerminalDlg::OnFindNext, QKeySequence(Qt::Key_F3));
    onMenu(Menu::FindPrevious, &CWendrakeTerminalDlg::OnFindPrevious,
           QKeySequence(Qt::SHIFT | Qt::Key_F3));
    onMenu(Menu::FollowNewData, &CWendrakeTerminalDlg::OnFollowNewData);
    onMenu(Menu::HoldWhileReading, &CWendrakeTerminalDlg::OnHoldWhileReading);
    onMenu(Menu::ShowTimestamps, &CWendrakeTerminalDlg::OnShowTimestamps);
    onMenu(Menu::HexDumpLayout, &CWendrakeTerminalDlg::OnHexDumpLayout);
    onMenu(Menu::AutoReconnect, &CWendrakeTerminalDlg::OnAutoReconnect);
    const std::pair<int, LineEnding> endings[] = {
        {Menu::LineEndingNone, LineEnding::None},
        {Menu::LineEndingCr, LineEnding::Cr},
        {Menu::LineEndingLf, LineEnding::Lf},
        {Menu::LineEndingCrLf, LineEnding::CrLf},
    };
    for (const auto& [id, ending] : endings)
        if (QAction* action = window->MenuAction(id))
            QObject::connect(action, &QAction::triggered, window,
                             [window, e = ending] { window->OnLineEnding(e); });
}

void OptionCommands::Apply(ReceiveView* view) {
    namespace Menu = TerminalMenuItem;
    const TerminalOptions& o = m_session.Options();
    const std::pair<int, bool> marks[] = {
        {Menu::FollowNewData, o.FollowNewData},
        {Menu::HoldWhileReading, o.HoldWhileReading},
        {Menu::ShowTimestamps, o.ShowTimestamps},
        {Menu::HexDumpLayout, o.HexDumpLayout},
        {Menu::AutoReconnect, o.AutoReconnect},
        {Menu::LineEndingNone, o.SendLineEnding == LineEnding::None},
        {Menu::LineEndingCr, o.SendLineEnding == LineEnding::Cr},
        {Menu::LineEndingLf, o.SendLineEnding == LineEnding::Lf},
        {Menu::LineEndingCrLf, o.SendLineEnding == LineEnding::CrLf},
    };
    for (const auto& [id, on] : marks)
        DialogBuilder::setMenuChecked(m_window.MenuAction(id), on);
    if (view) {
        view->setFollow(o.FollowNewData, o.HoldWhileReading);
        view->setTimestamps(o.ShowTimestamps);
        view->setHexDump(o.HexDumpLayout);
    }
    if (!o.AutoReconnect && m_session.StopWaitingForReconnect())
        m_window.UpdateConnectionStatus();
}

void OptionCommands::Toggle(bool TerminalOptions::*option, ReceiveView* view) {
    bool& value = m_session.Options().*option;
    value = !value;
    Apply(view);
    m_session.SaveOptions();
}

void OptionCommands::SetLineEnding(LineEnding ending, ReceiveView* view) {
    m_session.Options().SendLineEnding = ending;
    Apply(view);
    m_session.SaveOptions();
}
