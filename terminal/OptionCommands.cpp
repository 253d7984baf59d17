#include "terminal/OptionCommands.h"

#include "connection/TerminalSession.h"
#include "receiveview/ReceiveView.h"
#include "resources/TerminalMenu.h"
#include "terminal/CommandWindow.h"

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
        m_window.SetMenuMark(id, on);
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
