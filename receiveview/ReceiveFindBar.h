#pragma once

#include "receiveview/ReceiveFinder.h"

#include <QFrame>
#include <QTimer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ReceiveView;

// The find bar at the top of the receive view, in a strip of its own above the rows: text or
// hex bytes, next and previous. It searches the
// stored bytes of the form on screen (ASCII: since the last form feed; Hex: since the last
// Clear) a slice per turn of the event loop, then selects the match in the view and scrolls
// to it.
class ReceiveFindBar : public QFrame {
    Q_OBJECT
public:
    explicit ReceiveFindBar(ReceiveView* view, QWidget* parent = nullptr);

    // Shows the bar with the focus in its text.
    void open();
    void findNext();
    void findPrevious();
    // Ends a search under way (the stored data went away).
    void cancel();

    QLineEdit* textBox() const { return m_text; }
    QCheckBox* hexBox() const { return m_hex; }
    QString status() const;
    bool isSearching() const { return m_finder.isActive(); }

    static constexpr int StepBudgetMs = 8;

signals:
    // A search ended: found or not.
    void searchFinished(bool found);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Shown, the bar has a strip of the view to itself; hidden, the view has it back.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateStrip();
    void start(ReceiveFinder::Direction direction);
    void step();

    ReceiveView* m_view;
    QLineEdit* m_text;
    QCheckBox* m_hex;
    QPushButton* m_previous;
    QPushButton* m_next;
    QPushButton* m_close;
    QLabel* m_status;
    ReceiveFinder m_finder;
    qint64 m_needleSize = 0;
    QTimer m_stepTimer;
};
