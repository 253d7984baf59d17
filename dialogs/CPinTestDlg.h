#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

class CWendrake;
class QComboBox;
class QKeyEvent;
class QLabel;
class UserPrompts;

// The hidden Suspend and VPPCTL pin test (template 135): polls both levels five times a second
// and drives either line. Ends with Cancel (Done, Escape, close box) or with OK (Enter on a list,
// or a failed poll), after which the terminal window disconnects.
class CPinTestDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 200;

    CPinTestDlg(CWendrake& adapter, UserPrompts& prompts, QWidget* parent = nullptr);

    // Initialises (and starts the poll) before the modal run.
    int exec() override;

    // saveAndValidate true: the level labels into the members; false: the members into them.
    virtual void DoDataExchange(bool saveAndValidate);
    virtual bool OnInitDialog();
    // One poll of the latch; a failed read ends the dialog with OK.
    void OnTimer();
    // Button 1029: the masked write of the Suspend and VPPCTL choices.
    void OnSetPinStates();

    bool IsPolling() const { return m_pollTimer.isActive(); }

    QString SuspendLevelText;
    QString VppctlLevelText;

public slots:
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CWendrake& m_adapter;
    UserPrompts& m_prompts;
    QTimer m_pollTimer;

    QComboBox* m_vppctlList = nullptr;
    QComboBox* m_suspendList = nullptr;
    QLabel* m_suspendLevel = nullptr;
    QLabel* m_vppctlLevel = nullptr;
};
