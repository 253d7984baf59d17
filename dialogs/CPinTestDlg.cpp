#include "dialogs/CPinTestDlg.h"

#include "device/CWendrake.h"
#include "dialogs/DialogBuilder.h"
#include "dialogs/UserPrompts.h"
#include "resources/PinTestDialogTemplate.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <cstdint>

namespace {

// Entry 0 (Low), like no selection, drives the pin low.
constexpr int HighEntry = 1;
constexpr int LeaveEntry = 2;

QString levelText(std::uint8_t latch, std::uint8_t bit) {
    return (latch & bit) ? QStringLiteral("High") : QStringLiteral("Low");
}

} // namespace

CPinTestDlg::CPinTestDlg(CWendrake& adapter, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_adapter(adapter), m_prompts(prompts) {
    DialogBuilder(PinTestDialogTemplate()).build(this);
    DialogBuilder::connectStandardButtons(this);

    m_vppctlList =
        qobject_cast<QComboBox*>(DialogBuilder::control(this, PinTestControl::VppctlAction));
    m_suspendList =
        qobject_cast<QComboBox*>(DialogBuilder::control(this, PinTestControl::SuspendAction));
    m_suspendLevel =
        qobject_cast<QLabel*>(DialogBuilder::control(this, PinTestControl::SuspendLevel));
    m_vppctlLevel =
        qobject_cast<QLabel*>(DialogBuilder::control(this, PinTestControl::VppctlLevel));

    if (auto* set =
            qobject_cast<QPushButton*>(DialogBuilder::control(this, PinTestControl::SetPinStates)))
        connect(set, &QPushButton::clicked, this, &CPinTestDlg::OnSetPinStates);

    m_pollTimer.setInterval(PollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &CPinTestDlg::OnTimer);
}

int CPinTestDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CPinTestDlg::done(int result) {
    // The poll lives exactly as long as the dialog.
    m_pollTimer.stop();
    QDialog::done(result);
}

void CPinTestDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        SuspendLevelText = m_suspendLevel->text();
        VppctlLevelText = m_vppctlLevel->text();
        return;
    }
    m_suspendLevel->setText(SuspendLevelText);
    m_vppctlLevel->setText(VppctlLevelText);
}

bool CPinTestDlg::OnInitDialog() {
    m_pollTimer.start();
    m_suspendList->setCurrentIndex(LeaveEntry);
    m_vppctlList->setCurrentIndex(LeaveEntry);
    DoDataExchange(false);
    if (QWidget* doneButton = DialogBuilder::control(this, PinTestControl::Done))
        doneButton->setFocus();
    return false;
}

void CPinTestDlg::OnTimer() {
    std::uint8_t latch = 0;
    if (m_adapter.GetPinLatch(&latch) != WendrakeOk) {
        // No message: ending with OK makes the terminal window disconnect.
        m_pollTimer.stop();
        accept();
        return;
    }
    DoDataExchange(true);
    SuspendLevelText = levelText(latch, PinLatchBit::Suspend);
    VppctlLevelText = levelText(latch, PinLatchBit::Vppctl);
    DoDataExchange(false);
}

void CPinTestDlg::OnSetPinStates() {
    DoDataExchange(true);
    std::uint8_t values = 0;
    std::uint8_t mask = PinLatchBit::Suspend | PinLatchBit::Vppctl;
    const auto apply = [&](const QComboBox* list, std::uint8_t bit) {
        const int entry = list->currentIndex();
        if (entry == HighEntry)
            values |= bit;
        else if (entry == LeaveEntry)
            mask &= static_cast<std::uint8_t>(~bit);
    };
    apply(m_suspendList, PinLatchBit::Suspend);
    apply(m_vppctlList, PinLatchBit::Vppctl);

    // Sent even with an empty mask.
    if (m_adapter.SetPinLatch(values, mask) != WendrakeOk)
        m_prompts.Message(this, QStringLiteral("Pin states could not be set"),
                          QStringLiteral("Error"), PromptIcon::Error, PromptButtons::Ok);
}

void CPinTestDlg::keyPressEvent(QKeyEvent* event) {
    // Enter on anything but a push button is the dialog's OK command (there is no OK button);
    // a focused push button presses itself before the key gets here.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier &&
        !qobject_cast<QPushButton*>(QApplication::focusWidget())) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
