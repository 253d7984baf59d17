#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>

class QProgressBar;
class UserPrompts;

// The modal file transfer window: polls the sent-bytes counter every 10 ms, shows the share in
// its title and bar, and ends with OK once the counter reaches the total (Cancel otherwise).
class CProgressDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int TickMs = 10;

    // parent null: the application's active window owns it.
    CProgressDlg(const std::atomic<std::uint32_t>* progressCounter, std::uint32_t totalBytes,
                 UserPrompts& prompts, QWidget* parent = nullptr);
    ~CProgressDlg() override;

    // Percentage shown for a counter: double division first, then times 100, truncated.
    static int Percentage(std::uint32_t counter, std::uint32_t total);

    QString titleText() const { return m_titleText; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnInitDialog();
    void OnTimer();
    void stopTimer();
    int barValue(std::uint32_t counter) const;

    QProgressBar* m_progressBar = nullptr;
    const std::atomic<std::uint32_t>* m_progressCounter;
    std::uint32_t m_totalBytes;
    QString m_titleText;
    UserPrompts& m_prompts;
    int m_timerId = 0;
    bool m_finished = false;
    // QProgressBar takes int; totals beyond its range are scaled down by this many bits.
    int m_barShift = 0;
};
