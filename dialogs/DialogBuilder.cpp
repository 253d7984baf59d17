#include "dialogs/DialogBuilder.h"

#include "dialogs/CommandButtonAccessible.h"
#include "resources/AppIcon.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>

namespace {

// Icons of static icon controls take the system's icon size, whatever the template says.
constexpr int StaticIconPixels = 32;

// Check state changes only when the owner sets it ("not automatic" buttons).
class ManualPushButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void nextCheckState() override {}
};

class ManualCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

class ManualRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override {}
};

// A push button whose caption wraps onto several lines; text() keeps the caption unchanged.
class MultiLinePushButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const QRect textRect = style()
                                   ->subElementRect(QStyle::SE_PushButtonContents, &option, this)
                                   .adjusted(1, 0, -1, 0);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                         caption);
    }
};

// A multi-line edit that leaves Enter to the dialog, so the default button answers it, unless
// the control takes Enter as a line break. Ctrl+Enter still breaks the line.
class DialogPlainTextEdit : public QPlainTextEdit {
public:
    DialogPlainTextEdit(bool wantReturn, QWidget* parent)
        : QPlainTextEdit(parent), m_wantReturn(wantReturn) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && !m_wantReturn) {
            if (event->modifiers() & Qt::ControlModifier) {
                insertPlainText(QStringLiteral("\n"));
                return;
            }
            event->ignore();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

private:
    bool m_wantReturn;
};

bool has(unsigned style, unsigned flag) {
    return (style & flag) != 0;
}

Qt::Alignment textAlignment(unsigned style) {
    if (has(style, ControlStyle::RightAligned))
        return Qt::AlignRight | Qt::AlignTop;
    if (has(style, ControlStyle::Centered))
        return Qt::AlignHCenter | Qt::AlignTop;
    return Qt::AlignLeft | Qt::AlignTop;
}

QPlainTextEdit* makeMultiLineEdit(const ControlTemplate& control, QWidget* parent) {
    auto* edit = new DialogPlainTextEdit(has(control.Style, ControlStyle::WantReturn), parent);
    edit->setPlainText(control.Text);
    edit->setReadOnly(has(control.Style, ControlStyle::ReadOnly));
    edit->setTabChangesFocus(true);
    edit->setVerticalScrollBarPolicy(
        has(control.Style, ControlStyle::VScroll) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    edit->setLineWrapMode(has(control.Style, ControlStyle::AutoHScroll)
                              ? QPlainTextEdit::NoWrap
                              : QPlainTextEdit::WidgetWidth);
    return edit;
}

} // namespace

DialogBuilder::DialogBuilder(const DialogTemplate& dialogTemplate)
    : m_template(dialogTemplate),
      m_font(fontFor(dialogTemplate.FontFamily, dialogTemplate.FontPointSize)),
      m_base(baseUnitsOf(m_font)) {}

void DialogBuilder::setCustomWidget(int id, CustomFactory factory) {
    m_custom[id] = std::move(factory);
}

QFont DialogBuilder::font() const {
    return m_font;
}

QSize DialogBuilder::baseUnits() const {
    return m_base;
}

QRect DialogBuilder::toPixels(int x, int y, int width, int height) const {
    const auto horizontal = [this](int units) { return (units * m_base.width() + 2) / 4; };
    const auto vertical = [this](int units) { return (units * m_base.height() + 4) / 8; };
    return QRect(horizontal(x), vertical(y), horizontal(width), vertical(height));
}

namespace {

int captionMargin(const QAbstractButton* button) {
    return qMax(4, button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button));
}

} // namespace

int DialogBuilder::captionWidth(const QAbstractButton* button, const QFont& font) {
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    return QFontMetrics(font).horizontalAdvance(caption) + 2 * captionMargin(button);
}

void DialogBuilder::fitCaption(QAbstractButton* button) {
    if (!button)
        return;
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    QFont font = button->font();
    const int margin = captionMargin(button);
    const auto fits = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        return metrics.horizontalAdvance(caption) + 2 * margin <= button->width() &&
               metrics.height() <= button->height();
    };
    if (fits(font) || font.pointSizeF() <= 0)
        return;
    while (!fits(font) && font.pointSizeF() - 0.5 >= qreal(6.0))
        font.setPointSizeF(font.pointSizeF() - 0.5);
    button->setFont(font);
}

QFont DialogBuilder::fontFor(const QString& family, int pointSize) {
    const bool fixed = family.contains(QStringLiteral("Courier"), Qt::CaseInsensitive);
    QFont font =
        QFontDatabase::systemFont(fixed ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    return font;
}

QSize DialogBuilder::baseUnitsOf(const QFont& font) {
    // The average width of the Latin letters, rounded as Windows rounds it, and the cell height.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int averageWidth = (letters / 26 + 1) / 2;
    return QSize(qMax(1, averageWidth), qMax(1, metrics.height()));
}

QString DialogBuilder::objectNameFor(int id) {
    return QStringLiteral("id%1").arg(id);
}

QString DialogBuilder::menuObjectNameFor(int id) {
    return QStringLiteral("menu%1").arg(id);
}

QWidget* DialogBuilder::control(const QWidget* dialog, int id) {
    if (!dialog || id == IdNone)
        return nullptr;
    // Direct children only: a dialog opened on top may reuse the same ids.
    return dialog->findChild<QWidget*>(objectNameFor(id), Qt::FindDirectChildrenOnly);
}

QAction* DialogBuilder::menuAction(const QWidget* owner, int id) {
    if (!owner)
        return nullptr;
    return owner->findChild<QAction*>(menuObjectNameFor(id));
}

void DialogBuilder::setMenuChecked(QAction* action, bool checked) {
    if (!action)
        return;
    // Only a checked item is checkable, so unchecked items show no empty check box.
    action->setCheckable(checked);
    action->setChecked(checked);
}

void DialogBuilder::selectEntry(QComboBox* list, int position) {
    list->setCurrentIndex(position < list->count() ? position : -1);
}

void DialogBuilder::fillList(QComboBox* list, const QStringList& entries, int selection) {
    list->clear();
    list->addItems(entries);
    selectEntry(list, selection);
}

void DialogBuilder::connectStandardButtons(QDialog* dialog) {
    if (auto* ok = qobject_cast<QAbstractButton*>(control(dialog, IdOk)))
        QObject::connect(ok, &QAbstractButton::clicked, dialog, &QDialog::accept);
    if (auto* cancel = qobject_cast<QAbstractButton*>(control(dialog, IdCancel)))
        QObject::connect(cancel, &QAbstractButton::clicked, dialog, &QDialog::reject);
}

QMenuBar* DialogBuilder::buildMenuBar(const MenuBarTemplate& menuTemplate, QWidget* parent) {
    auto* bar = new QMenuBar(parent);
    bar->setObjectName(QStringLiteral("menubar%1").arg(menuTemplate.Id));
    for (const MenuTemplate& menuEntry : menuTemplate.Menus) {
        QMenu* menu = bar->addMenu(menuEntry.Text);
        for (const MenuItemTemplate& item : menuEntry.Items) {
            if (item.Separator) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(item.Text);
            action->setObjectName(menuObjectNameFor(item.Id));
            setMenuChecked(action, item.Checked);
            // Check marks are set by the program, never by choosing the item: undo Qt's own
            // toggle before any command handler sees the action.
            QObject::connect(action, &QAction::triggered, action, [action](bool checked) {
                if (action->isCheckable())
                    action->setChecked(!checked);
            });
        }
    }
    return bar;
}

void DialogBuilder::build(QDialog* dialog, QMenuBar* menuBar) const {
    dialog->setWindowTitle(m_template.Title);
    dialog->setFont(m_font);

    const unsigned style = m_template.Style;
    Qt::WindowFlags flags = has(style, DialogStyle::AppWindow) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint;
    if (has(style, DialogStyle::Caption))
        flags |= Qt::WindowTitleHint;
    if (has(style, DialogStyle::SystemMenu))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (has(style, DialogStyle::MinimizeBox))
        flags |= Qt::WindowMinimizeButtonHint;
    if (has(style, DialogStyle::MaximizeBox))
        flags |= Qt::WindowMaximizeButtonHint;
    dialog->setWindowFlags(flags);

    int top = 0;
    if (menuBar) {
        // The layout only keeps the menu bar across the top; controls are placed by hand.
        auto* layout = new QVBoxLayout(dialog);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        layout->setMenuBar(menuBar);
        top = menuBar->sizeHint().height();
    }

    QWidget* previousTabStop = nullptr;
    QButtonGroup* radioGroup = nullptr;
    for (const ControlTemplate& control : m_template.Controls) {
        const auto custom = m_custom.find(control.Id);
        QWidget* widget = custom != m_custom.end() ? custom->second(control, dialog)
                                                   : createControl(control, dialog);
        if (!widget)
            continue;
        if (widget->parentWidget() != dialog)
            widget->setParent(dialog);
        if (control.Id != IdNone)
            widget->setObjectName(objectNameFor(control.Id));

        QRect rect =
            toPixels(control.X, control.Y, control.Width, control.Height).translated(0, top);
        if (control.Kind == ControlKind::DropDownList || control.Kind == ControlKind::DropDownEdit)
            rect.setHeight(qMin(rect.height(), widget->sizeHint().height())); // closed height
        if (control.Kind == ControlKind::Icon)
            rect.setSize(QSize(StaticIconPixels, StaticIconPixels));
        widget->setGeometry(rect);
        if ((control.Kind == ControlKind::PushButton &&
             !has(control.Style, ControlStyle::MultiLine)) ||
            (control.Kind == ControlKind::CheckBox && has(control.Style, ControlStyle::PushLike)))
            fitCaption(static_cast<QAbstractButton*>(widget));
        if (control.Kind == ControlKind::GroupBox)
            widget->lower(); // a frame behind its controls, never over them

        if (has(control.Style, ControlStyle::Disabled))
            widget->setEnabled(false);

        if (control.Kind == ControlKind::RadioButton) {
            if (!radioGroup || has(control.Style, ControlStyle::Group)) {
                radioGroup = new QButtonGroup(dialog);
                radioGroup->setExclusive(true);
            }
            if (auto* radio = qobject_cast<QAbstractButton*>(widget))
                radioGroup->addButton(radio);
        } else if (has(control.Style, ControlStyle::Group)) {
            radioGroup = nullptr;
        }

        if (has(control.Style, ControlStyle::TabStop)) {
            if (widget->focusPolicy() == Qt::NoFocus || widget->focusPolicy() == Qt::ClickFocus)
                widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (widget->focusPolicy() & Qt::TabFocus) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        widget->show();
    }

    const QSize client = toPixels(0, 0, m_template.Width, m_template.Height).size() + QSize(0, top);
    if (has(style, DialogStyle::SizingBorder))
        dialog->resize(client);
    else
        dialog->setFixedSize(client);
}

QWidget* DialogBuilder::createControl(const ControlTemplate& control, QWidget* parent) const {
    const unsigned style = control.Style;
    switch (control.Kind) {
    case ControlKind::GroupBox: {
        auto* box = new QGroupBox(control.Text, parent);
        box->setFocusPolicy(Qt::NoFocus);
        return box;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(control.Text, parent);
        label->setAlignment(textAlignment(style));
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        if (has(style, ControlStyle::Sunken)) {
            // A one-line status field: centred, so a font taller than the field loses no
            // more than a pixel at either edge.
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setWordWrap(false);
            label->setAlignment((textAlignment(style) & ~Qt::AlignVertical_Mask) |
                                Qt::AlignVCenter);
        }
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setPixmap(IconFromResource(control.Text).pixmap(StaticIconPixels, StaticIconPixels));
        return label;
    }
    case ControlKind::PushButton: {
        QPushButton* button = has(style, ControlStyle::MultiLine)
                                  ? new MultiLinePushButton(control.Text, parent)
                                  : new QPushButton(control.Text, parent);
        if (has(style, ControlStyle::DefaultButton))
            button->setDefault(true);
        return button;
    }
    case ControlKind::CheckBox: {
        const bool manual = has(style, ControlStyle::NotAutomatic);
        if (has(style, ControlStyle::PushLike)) {
            QPushButton* button = manual ? new ManualPushButton(control.Text, parent)
                                         : new QPushButton(control.Text, parent);
            button->setCheckable(true);
            button->setAutoDefault(false);
            CommandButtonAccessible::attach(button);
            return button;
        }
        QCheckBox* box =
            manual ? new ManualCheckBox(control.Text, parent) : new QCheckBox(control.Text, parent);
        CommandButtonAccessible::attach(box);
        return box;
    }
    case ControlKind::RadioButton: {
        QRadioButton* radio = has(style, ControlStyle::NotAutomatic)
                                  ? new ManualRadioButton(control.Text, parent)
                                  : new QRadioButton(control.Text, parent);
        radio->setAutoExclusive(false); // the builder's button group keeps them exclusive
        CommandButtonAccessible::attach(radio);
        return radio;
    }
    case ControlKind::Edit: {
        if (has(style, ControlStyle::MultiLine))
            return makeMultiLineEdit(control, parent);
        auto* edit = new QLineEdit(control.Text, parent);
        edit->setReadOnly(has(style, ControlStyle::ReadOnly));
        if (has(style, ControlStyle::RightAligned))
            edit->setAlignment(Qt::AlignRight);
        return edit;
    }
    case ControlKind::RichEdit: {
        QPlainTextEdit* view = makeMultiLineEdit(control, parent);
        view->setUndoRedoEnabled(false);
        return view;
    }
    case ControlKind::DropDownList:
    case ControlKind::DropDownEdit: {
        auto* combo = new QComboBox(parent);
        if (control.Kind == ControlKind::DropDownEdit) {
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
        }
        combo->addItems(control.Entries);
        combo->setCurrentIndex(-1);
        return combo;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return nullptr;
}
