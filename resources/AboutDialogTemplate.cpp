#include "resources/AboutDialogTemplate.h"

#include "resources/TerminalDialogTemplate.h"

using namespace ControlStyle;

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate about{
        .Id = AboutDialogId,
        .Title = QStringLiteral("About Wendrake Terminal"),
        .Width = 190,
        .Height = 65,
        .FontFamily = QStringLiteral("MS Sans Serif"),
        .FontPointSize = 8,
        .Style = DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame,
        .MenuId = 0,
        .Controls =
            {
                {IdNone, ControlKind::Icon, QString::fromLatin1(AppIconPath), 7, 7, 20, 20},
                {IdNone, ControlKind::Label, QString::fromLatin1(TerminalWindowTitle), 45, 7, 123,
                 8},
                {IdNone, ControlKind::Label, "Version", 45, 29, 24, 8},
                {AboutVersionControl, ControlKind::Label, QString::fromLatin1(ProgramVersion), 71,
                 29, 42, 8},
                {IdOk, ControlKind::PushButton, "OK", 133, 44, 50, 14, TabStop | DefaultButton},
            },
    };
    return about;
}
