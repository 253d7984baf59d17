#include "app/CAbout.h"

#include "dialogs/DialogBuilder.h"
#include "resources/AboutDialogTemplate.h"
#include "resources/AppIcon.h"

CAbout::CAbout(QWidget* parent) : QDialog(parent) {
    DialogBuilder(AboutDialogTemplate()).build(this);
    DialogBuilder::connectStandardButtons(this);
    setWindowIcon(AppIcon());
    OnInitDialog();
}

// The focus stays on OK.
bool CAbout::OnInitDialog() {
    if (QWidget* ok = DialogBuilder::control(this, IdOk))
        ok->setFocus(Qt::OtherFocusReason);
    return true;
}
