#include "dialogs/CProgressDlg.h"

#include "dialogs/DialogBuilder.h"
#include "dialogs/UserPrompts.h"
#include "resources/ProgressDialogTemplate.h"

#include <QApplication>
#include <QProgressBar>
#include <QTimerEvent>

#include <climits>

CProgressDlg::CProgressDlg(const std::atomic<std::uint32_t>* progressCounter,
                           std::uint32_t totalBytes, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent ? parent : QApplication::activeWindow()), m_progressCounter(progressCounter),
      m_totalBytes(totalBytes), m_prompts(prompts) {
    DialogBuilder builder(ProgressDialogTemplate());
    builder.build(this);
    DialogBuilder::connectStandardButtons(this);
    m_progressBar = qobject_cast<QProgressBar*>(DialogBuilder::control(this, ProgressBarControl));
    m_titleText = windowTitle();
    OnInitDialog();
}

CProgressDlg::~CProgressDlg() {
    stopTimer();
}

int CProgressDlg::Percentage(std::uint32_t counter, std::uint32_t total) {
    if (total == 0)
        return 100;
    return static_cast<int>(static_cast<double>(counter) / static_cast<double>(total) * 100.0);
}

void CProgressDlg::OnInitDialog() {
    while ((m_totalBytes >> m_barShift) > static_cast<std::uint32_t>(INT_MAX))
        ++m_barShift;
    if (m_progressBar) {
        m_progressBar->setRange(0, static_cast<int>(m_totalBytes >> m_barShift));
        m_progressBar->setValue(0);
    }
}

void CProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_timerId == 0 && !m_finished)
        m_timerId = startTimer(TickMs, Qt::PreciseTimer);
}

void CProgressDlg::done(int result) {
    m_finished = true;
    stopTimer();
    QDialog::done(result);
}

void CProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timerId)
        OnTimer();
    else
        QDialog::timerEvent(event);
}

void CProgressDlg::OnTimer() {
    const std::uint32_t counter = m_progressCounter ? m_progressCounter->load() : 0;
    m_titleText = QString::asprintf("File Transfer - %d%%", Percentage(counter, m_totalBytes));
    setWindowTitle(m_titleText);
    if (m_progressBar)
        m_progressBar->setValue(barValue(counter));

    if (counter == m_totalBytes) {
        stopTimer();
        m_prompts.Message(this, QStringLiteral("File transferred successfully"),
                          QStringLiteral("Notice"), PromptIcon::Exclamation, PromptButtons::Ok);
        accept();
    } else if (counter > m_totalBytes) {
        stopTimer();
        m_prompts.Message(
            this,
            QStringLiteral("File transferred, but errors may have occurred during transmission"),
            QStringLiteral("Notice"), PromptIcon::Exclamation, PromptButtons::Ok);
        accept();
    }
}

void CProgressDlg::stopTimer() {
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

int CProgressDlg::barValue(std::uint32_t counter) const {
    // A value outside the range would be ignored by the bar; an overshoot shows as full.
    const std::uint32_t clamped = counter < m_totalBytes ? counter : m_totalBytes;
    return static_cast<int>(clamped >> m_barShift);
}
