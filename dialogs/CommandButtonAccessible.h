#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

// What assistive tools see of a dialog's check boxes, radio buttons and push-like check boxes.
// Their press or toggle action is a click, so the button's command runs as it does for the mouse
// and the keyboard. (Qt's own interface only flips the check mark: the look changes, the
// command does not run, and buttons whose owner sets the mark get out of step with it.)
class CommandButtonAccessible : public QAccessibleWidget {
public:
    explicit CommandButtonAccessible(QAbstractButton* button);

    // Gives `button` this interface; installs the interface factory on first use.
    static void attach(QAbstractButton* button);

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    QAbstractButton* button() const;
};
