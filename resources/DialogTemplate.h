#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Dialog and menu resources as plain data. DialogBuilder turns them into Qt widgets.

// Control ids with a meaning of their own: the standard OK and Cancel commands, and "no id".
inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;
inline constexpr int IdNone = -1;

// The application icon resource.
inline constexpr int AppIconResource = 128;
inline constexpr const char* AppIconPath = ":/icons/wendrake.svg";

enum class ControlKind {
    GroupBox,     // frame with a caption; decoration only, never a parent of other controls
    Label,        // static text
    Icon,         // static icon; Text holds the Qt resource path of the image
    PushButton,   // DefaultButton, MultiLine
    CheckBox,     // PushLike, NotAutomatic
    RadioButton,  // Group starts a new radio group; NotAutomatic
    Edit,         // single line unless MultiLine; ReadOnly, VScroll, AutoHScroll, WantReturn
    RichEdit,     // the receive view; replaceable through DialogBuilder::setCustomWidget
    DropDownList, // combo box without typing; Entries
    DropDownEdit, // combo box that also takes typed text; Entries
    ProgressBar,  // Smooth
};

// Style flags of a control, combined with |.
namespace ControlStyle {
enum : unsigned {
    None = 0,
    TabStop = 1u << 0,       // reached by the Tab key; controls without it are skipped
    Group = 1u << 1,         // starts a group (radio buttons)
    DefaultButton = 1u << 2, // pressed by Enter anywhere in the dialog
    PushLike = 1u << 3,      // check box drawn as a push button that stays pressed when checked
    NotAutomatic = 1u << 4,  // a click does not change the check state; the handler sets it
    ReadOnly = 1u << 5,
    RightAligned = 1u << 6,
    Sunken = 1u << 7,
    MultiLine = 1u << 8,
    VScroll = 1u << 9,
    AutoHScroll = 1u << 10,
    Border = 1u << 11,
    Disabled = 1u << 12,
    Smooth = 1u << 13,     // progress bar without segments
    WantReturn = 1u << 14, // multi-line edit that takes Enter as a line break
    Centered = 1u << 15,
};
} // namespace ControlStyle

// One control: position and size in dialog units.
// Written positionally: {id, kind, text, x, y, width, height, style, entries}; the last two
// may be left out.
struct ControlTemplate {
    ControlTemplate() = default;
    ControlTemplate(int id, ControlKind kind, QString text, int x, int y, int width, int height,
                    unsigned style = 0, QStringList entries = {})
        : Id(id), Kind(kind), Text(std::move(text)), X(x), Y(y), Width(width), Height(height),
          Style(style), Entries(std::move(entries)) {}

    int Id = IdNone;
    ControlKind Kind = ControlKind::Label;
    QString Text;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    unsigned Style = ControlStyle::None;
    QStringList Entries; // initial list entries of drop-down controls, in order
};

// Window style flags of a dialog, combined with |.
namespace DialogStyle {
enum : unsigned {
    None = 0,
    Caption = 1u << 0,
    SystemMenu = 1u << 1, // close box
    MinimizeBox = 1u << 2,
    MaximizeBox = 1u << 3,
    SizingBorder = 1u << 4, // resizable; otherwise the dialog keeps its template size
    ModalFrame = 1u << 5,
    AppWindow = 1u << 6, // shown as a top-level application window
};
} // namespace DialogStyle

// A dialog: size in dialog units, the font the units are measured in, and the controls in tab
// order (the Tab key visits the TabStop controls in this order).
struct DialogTemplate {
    int Id = 0;
    QString Title;
    int Width = 0;
    int Height = 0;
    QString FontFamily = QStringLiteral("MS Sans Serif");
    int FontPointSize = 8;
    unsigned Style = DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame;
    int MenuId = 0; // 0: no menu
    std::vector<ControlTemplate> Controls;
};

// A menu item; Separator items have neither id nor text. Text marks mnemonics with '&'.
struct MenuItemTemplate {
    int Id = 0;
    QString Text;
    bool Checked = false;
    bool Separator = false;
};

// One drop-down menu of the menu bar.
struct MenuTemplate {
    QString Text;
    std::vector<MenuItemTemplate> Items;
};

struct MenuBarTemplate {
    int Id = 0;
    std::vector<MenuTemplate> Menus;
};
