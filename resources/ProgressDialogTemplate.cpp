#include "resources/ProgressDialogTemplate.h"

using namespace ControlStyle;

const DialogTemplate& ProgressDialogTemplate() {
    static const DialogTemplate progress{
        .Id = ProgressDialogId,
        .Title = QStringLiteral("File Transfer - 0%"),
        .Width = 220,
        .Height = 50,
        .FontFamily = QStringLiteral("MS Sans Serif"),
        .FontPointSize = 8,
        .Style = DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame,
        .MenuId = 0,
        .Controls =
            {
                {ProgressBarControl,
                 ControlKind::ProgressBar,
                 QStringLiteral("Progress1"),
                 7,
                 8,
                 206,
                 12,
                 Smooth | Border,
                 {}},
                {IdCancel,
                 ControlKind::PushButton,
                 QStringLiteral("Cancel"),
                 85,
                 29,
                 50,
                 14,
                 TabStop,
                 {}},
            },
    };
    return progress;
}
