#pragma once

#include "resources/DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

class QComboBox;
class QAbstractButton;
class QAction;
class QDialog;
class QMenuBar;
class QWidget;

// Builds real widgets from a dialog template, placed by dialog units of the template's font.
// Controls become children of the dialog named "id<N>" (for example "id1007"); menu items
// become actions named "menu<N>". Drop-down lists start with no selection (index -1).
class DialogBuilder {
public:
    // Makes the widget for one control; the builder then places it, names it and adds it to the
    // tab order.
    using CustomFactory = std::function<QWidget*(const ControlTemplate& control, QWidget* parent)>;

    explicit DialogBuilder(const DialogTemplate& dialogTemplate);

    // Replaces the built-in widget of the control with this id.
    void setCustomWidget(int id, CustomFactory factory);

    // Sets title, font, window flags and size of the dialog and creates every control. With a
    // menu bar, the bar sits above the controls and the dialog grows by its height.
    void build(QDialog* dialog, QMenuBar* menuBar = nullptr) const;

    // The template's font: "MS Sans Serif" is the system's UI font, "Courier" its fixed-pitch one.
    QFont font() const;
    // Pixels of 4 horizontal and 8 vertical dialog units: the font's average character width and
    // its height.
    QSize baseUnits() const;
    // A rectangle in dialog units as pixels.
    QRect toPixels(int x, int y, int width, int height) const;

    static QFont fontFor(const QString& family, int pointSize);
    // Our fonts run wider than the one the templates were laid out in: a one-line caption that
    // would touch its button's edges gets a smaller font, keeping the style's button margin free
    // each side. Run again whenever the button is resized.
    static void fitCaption(QAbstractButton* button);
    // The width at which the button's one-line caption in that font keeps the style's margin
    // each side.
    static int captionWidth(const QAbstractButton* button, const QFont& font);
    static QSize baseUnitsOf(const QFont& font);

    static QString objectNameFor(int id);     // "id1007"
    static QString menuObjectNameFor(int id); // "menu32774"

    // The control of that id built into the dialog, or null.
    static QWidget* control(const QWidget* dialog, int id);
    // A menu bar with one action per item, parented to parent.
    static QMenuBar* buildMenuBar(const MenuBarTemplate& menuTemplate, QWidget* parent);
    // The action of that menu id under owner (the menu bar or the window holding it), or null.
    static QAction* menuAction(const QWidget* owner, int id);
    // Puts or removes the check mark of a menu item (choosing an item never changes it).
    static void setMenuChecked(QAction* action, bool checked);
    // Selects an entry of a drop-down list; a position past the end selects nothing.
    static void selectEntry(QComboBox* list, int position);
    // The list's entries replaced, then the one at selection selected.
    static void fillList(QComboBox* list, const QStringList& entries, int selection);
    // Connects button 1 to accept() and button 2 to reject(), where the dialog has them.
    static void connectStandardButtons(QDialog* dialog);

private:
    QWidget* createControl(const ControlTemplate& control, QWidget* parent) const;

    DialogTemplate m_template;
    std::map<int, CustomFactory> m_custom;
    QFont m_font;
    QSize m_base;
};
