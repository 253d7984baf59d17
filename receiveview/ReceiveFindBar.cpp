#include "receiveview/ReceiveFindBar.h"

#include "connection/ReceivedText.h"
#include "receiveview/ReceiveView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ReceiveFindBar::ReceiveFindBar(ReceiveView* view, QWidget* parent)
    : QFrame(parent), m_view(view), m_text(new QLineEdit(this)),
      m_hex(new QCheckBox(tr("He&x Bytes"), this)),
      m_previous(new QPushButton(tr("&Previous"), this)),
      m_next(new QPushButton(tr("&Next"), this)), m_close(new QPushButton(tr("Close"), this)),
      m_status(new QLabel(this)) {
    setObjectName(QStringLiteral("ReceiveFindBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_text->setAccessibleName(tr("Find"));
    m_text->setPlaceholderText(tr("Find"));
    m_text->setMinimumWidth(140);
    for (QPushButton* button : {m_previous, m_next, m_close}) {
        // Never the dialog's default button: Enter in the bar finds, it does not send.
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    m_status->setMinimumWidth(70);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(m_text);
    layout->addWidget(m_hex);
    layout->addWidget(m_previous);
    layout->addWidget(m_next);
    layout->addWidget(m_status);
    layout->addWidget(m_close);
    connect(m_next, &QPushButton::clicked, this, &ReceiveFindBar::findNext);
    connect(m_previous, &QPushButton::clicked, this, &ReceiveFindBar::findPrevious);
    connect(m_close, &QPushButton::clicked, this, [this] {
        cancel();
        hide();
        m_view->setFocus(Qt::OtherFocusReason);
    });
    connect(m_text, &QLineEdit::textEdited, this, [this] { m_status->clear(); });
    m_stepTimer.setInterval(0);
    connect(&m_stepTimer, &QTimer::timeout, this, &ReceiveFindBar::step);
    hide();
}

void ReceiveFindBar::open() {
    show();
    raise();
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void ReceiveFindBar::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    updateStrip();
}

void ReceiveFindBar::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    updateStrip();
}

void ReceiveFindBar::moveEvent(QMoveEvent* event) {
    QFrame::moveEvent(event);
    updateStrip();
}

void ReceiveFindBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateStrip();
}

// The strip reaches from the view's top edge to just below the bar.
void ReceiveFindBar::updateStrip() {
    if (!isVisible()) {
        m_view->setTopStrip(0);
        return;
    }
    const QPoint viewTop = m_view->mapTo(window(), QPoint(0, m_view->frameWidth()));
    const QPoint barBottom = mapTo(window(), QPoint(0, height()));
    m_view->setTopStrip(barBottom.y() + 1 - viewTop.y());
}

QString ReceiveFindBar::status() const {
    return m_status->text();
}

void ReceiveFindBar::findNext() {
    start(ReceiveFinder::Direction::Forward);
}

void ReceiveFindBar::findPrevious() {
    start(ReceiveFinder::Direction::Backward);
}

void ReceiveFindBar::cancel() {
    m_stepTimer.stop();
    if (m_finder.isActive()) {
        m_finder = ReceiveFinder();
        m_status->clear();
    }
}

void ReceiveFindBar::start(ReceiveFinder::Direction direction) {
    if (!isVisible() || m_text->text().isEmpty()) {
        open();
        if (m_text->text().isEmpty())
            return;
    }
    const std::optional<QByteArray> needle = m_hex->isChecked()
                                                 ? ReceiveFinder::NeedleFromHex(m_text->text())
                                                 : ReceiveFinder::NeedleFromText(m_text->text());
    if (!needle) {
        m_stepTimer.stop();
        m_status->setText(m_hex->isChecked() ? tr("Not hex bytes") : tr("Not found"));
        emit searchFinished(false);
        return;
    }
    const ReceivedText* text = m_view->source();
    if (!text)
        return;
    const qint64 begin = m_view->format() == ReceiveView::Format::Ascii ? text->asciiStart() : 0;
    const qint64 end = text->byteCount();
    qint64 from = 0;
    if (direction == ReceiveFinder::Direction::Forward) {
        // From just after the start of the match on show, so Next moves on.
        from = m_view->hasSelection() ? m_view->byteOfPosition(m_view->selectionStart()) + 1
                                      : m_view->byteOfPosition(m_view->caretPosition());
    } else {
        from = m_view->hasSelection()
                   ? m_view->byteOfPosition(m_view->selectionStart()) + needle->size() - 1
                   : m_view->byteOfPosition(m_view->caretPosition());
    }
    m_needleSize = needle->size();
    m_finder.begin(*needle, begin, end, from, direction);
    m_status->setText(tr("Searching..."));
    step();
}

void ReceiveFindBar::step() {
    const ReceivedText* text = m_view->source();
    if (!text || !m_finder.step(*text, StepBudgetMs)) {
        if (text && !m_stepTimer.isActive())
            m_stepTimer.start();
        return;
    }
    m_stepTimer.stop();
    const qint64 at = m_finder.found();
    if (at < 0) {
        m_status->setText(tr("Not found"));
        emit searchFinished(false);
        return;
    }
    m_status->setText(m_finder.wrapped() ? tr("Wrapped") : QString());
    m_view->showMatch(at, at + m_needleSize);
    emit searchFinished(true);
}

void ReceiveFindBar::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        // The bar's own: Escape must not reach the window, which it would end.
        m_close->click();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & Qt::ShiftModifier)
            findPrevious();
        else
            findNext();
        event->accept();
        return;
    default:
        QFrame::keyPressEvent(event);
    }
}
