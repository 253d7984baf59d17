#pragma once

#include "device/CWendrake.h"
#include "device/platform/HidPlatform.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The adapters attached: the ones this user can open, with their match index, and the ones that
// cannot be opened now and why; and the choice of one by its serial.
class AdapterFinder {
public:
    struct Entry {
        QString Serial; // as the window lists it; empty when the adapter does not tell
        bool HasSerial = false;
        QString Path;
        int Index = -1; // the match index Connect takes; -1 when it cannot be opened
        std::optional<HidAccessProblem> Problem;
    };

    enum class Outcome { Found, NoAdapter, NotFound, Several, Inaccessible };
    struct Choice {
        Outcome What = Outcome::NoAdapter;
        Entry Adapter;   // Found and Inaccessible: the adapter chosen
        QString Message; // all but Found: one line saying what is wrong
    };

    explicit AdapterFinder(CWendrake& adapter);

    // Openable adapters first, in match-index order, then the others in enumeration order.
    std::vector<Entry> List();
    // serial empty: the one adapter attached, whichever it is.
    Choice Choose(const QString& serial);

    // A serial as the window shows it: the low byte of each UTF-16 unit.
    static QString SerialText(const std::u16string& serial);

private:
    static QString name(const Entry& entry);
    static Choice inaccessible(const Entry& entry);

    CWendrake& m_adapter;
};
