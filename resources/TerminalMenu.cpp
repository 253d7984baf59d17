#include "resources/TerminalMenu.h"

namespace {
MenuItemTemplate item(int id, const char* text, bool checked = false) {
    return MenuItemTemplate{id, QString::fromLatin1(text), checked, false};
}
MenuItemTemplate separator() {
    return MenuItemTemplate{0, {}, false, true};
}
} // namespace

const MenuBarTemplate& TerminalMenu() {
    using namespace TerminalMenuItem;
    static const MenuBarTemplate menu{
        TerminalMenuId,
        {
            {QStringLiteral("&Terminal"),
             {
                 item(Clear, "&Clear"),
                 separator(),
                 item(ClearSentTransferData, "Clear Sent Transfer &Data", true),
                 item(AutoSendTransferText, "Automatically Send Transfer Te&xt"),
                 separator(),
                 item(LineEndingNone, "Line Ending: &None", true),
                 item(LineEndingCr, "Line Ending: C&R"),
                 item(LineEndingLf, "Line Ending: &LF"),
                 item(LineEndingCrLf, "Line Ending: CR L&F"),
                 separator(),
                 item(AutoReconnect, "Automatically &Reconnect"),
                 separator(),
                 item(SaveAsciiData, "&Save ASCII Data..."),
                 item(SaveHexData, "S&ave HEX Data..."),
                 separator(),
                 item(Exit, "E&xit"),
             }},
            {QStringLiteral("&View"),
             {
                 item(Find, "&Find..."),
                 item(FindNext, "Find &Next"),
                 item(FindPrevious, "Find &Previous"),
                 separator(),
                 item(FollowNewData, "&Follow New Data", true),
                 item(HoldWhileReading, "&Hold While Selecting or Scrolled Up"),
                 separator(),
                 item(ShowTimestamps, "Show &Timestamps"),
                 item(HexDumpLayout, "Hex &Dump Layout"),
             }},
            {QStringLiteral("W&endrake"),
             {
                 item(Connect, "&Connect"),
                 separator(),
                 item(ViewFifoStatus, "View FIFO Status..."),
                 item(PurgeFifo, "Purge FIFO..."),
                 separator(),
                 item(Settings, "&Settings..."),
             }},
            {QStringLiteral("&Help"),
             {
                 item(Help, "&Help..."),
                 separator(),
                 item(About, "About..."),
             }},
        },
    };
    return menu;
}
