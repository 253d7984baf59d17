#include "dialogs/CommandButtonAccessible.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QVariant>

namespace {

constexpr char AttachedProperty[] = "wtCommandButtonAccessible";

QAccessible::Role roleOf(const QAbstractButton* button) {
    if (qobject_cast<const QRadioButton*>(button))
        return QAccessible::RadioButton;
    if (qobject_cast<const QCheckBox*>(button))
        return QAccessible::CheckBox;
    return QAccessible::Button;
}

QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* button = qobject_cast<QAbstractButton*>(object);
    if (button && button->property(AttachedProperty).toBool())
        return new CommandButtonAccessible(button);
    return nullptr;
}

// "&Connect" reads "Connect", "A && B" reads "A & B".
QString withoutMnemonic(const QString& caption) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i;
        text += caption[i];
    }
    return text;
}

} // namespace

CommandButtonAccessible::CommandButtonAccessible(QAbstractButton* button)
    : QAccessibleWidget(button, roleOf(button)) {
    addControllingSignal(QStringLiteral("clicked(bool)"));
}

void CommandButtonAccessible::attach(QAbstractButton* button) {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
    button->setProperty(AttachedProperty, true);
    // Setting the caption already made and kept Qt's own interface: make ours instead.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(button);
    if (made && !dynamic_cast<CommandButtonAccessible*>(made)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

QAbstractButton* CommandButtonAccessible::button() const {
    return static_cast<QAbstractButton*>(widget());
}

QString CommandButtonAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Name && button()->accessibleName().isEmpty())
        return withoutMnemonic(button()->text());
    return QAccessibleWidget::text(t);
}

QAccessible::State CommandButtonAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = button()->isCheckable();
    state.checked = button()->isChecked();
    state.pressed = button()->isDown();
    return state;
}

QStringList CommandButtonAccessible::actionNames() const {
    QStringList names;
    if (widget()->isEnabled())
        names << (button()->isCheckable() ? toggleAction() : pressAction());
    return names + QAccessibleWidget::actionNames();
}

void CommandButtonAccessible::doAction(const QString& actionName) {
    if (actionName == toggleAction() || actionName == pressAction()) {
        if (widget()->isEnabled())
            button()->click();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}
