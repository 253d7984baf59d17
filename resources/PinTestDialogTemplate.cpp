#include "resources/PinTestDialogTemplate.h"

using namespace ControlStyle;

const DialogTemplate& PinTestDialogTemplate() {
    // Tab stops first, in the order the Tab key visits them; then the frames and labels.
    static const DialogTemplate pinTest{
        .Id = PinTestDialogId,
        .Title = QStringLiteral("Suspend and VPPCTL Pin Test"),
        .Width = 312,
        .Height = 76,
        .FontFamily = QStringLiteral("MS Sans Serif"),
        .FontPointSize = 8,
        .Style = DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame,
        .MenuId = 0,
        .Controls =
            {
                {IdCancel, ControlKind::PushButton, "Done", 255, 55, 50, 14, TabStop},
                {1029, ControlKind::PushButton, "Set Selected Pin States", 229, 15, 60, 29,
                 TabStop | MultiLine},
                {1019,
                 ControlKind::DropDownList,
                 {},
                 102,
                 17,
                 110,
                 74,
                 TabStop,
                 {"Set Suspend Logic Low", "Set Suspend Logic High", "Do Not Set Suspend"}},
                {1053,
                 ControlKind::DropDownList,
                 {},
                 102,
                 32,
                 110,
                 74,
                 TabStop,
                 {"Set VPPCTL Logic Low", "Set VPPCTL Logic High", "Do Not Set VPPCTL"}},

                {IdNone, ControlKind::GroupBox, "Current Pin State", 7, 7, 74, 41},
                {IdNone, ControlKind::GroupBox, "Pin State Configuration", 92, 7, 213, 41},
                {1048, ControlKind::Label, "Suspend", 16, 19, 29, 8, RightAligned},
                {1049, ControlKind::Label, "VPPCTL", 15, 34, 30, 8, RightAligned},
                {1050, ControlKind::Label, {}, 51, 19, 16, 8},
                {1051, ControlKind::Label, {}, 51, 34, 16, 8},
            },
    };
    return pinTest;
}
