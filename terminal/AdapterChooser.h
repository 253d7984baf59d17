#pragma once

#include <QString>

class QComboBox;
class TerminalSession;

// The adapter list of the terminal window: one entry per attached adapter by serial, rebuilt on
// every adapter notice, and which adapter an entry opens once the list is older than the
// enumeration.
class AdapterChooser {
public:
    // The entry selected and the match index it opens now; -1 for none, or for one that is gone.
    struct Choice {
        int entry = -1;
        int adapterIndex = -1;
    };

    AdapterChooser(QComboBox* list, TerminalSession& session) : m_list(list), m_session(session) {}

    // The adapters attached now, the first selected.
    void refresh();
    Choice choice() const;
    QString serialOf(int entry) const;
    // Selects the entry of that serial; false when none is listed.
    bool select(const QString& serial);
    void setEnabled(bool enabled);

private:
    QComboBox* m_list;
    TerminalSession& m_session;
    // Rebuilt while connected: the connected adapter is missing from the list, so its indexes no
    // longer match the enumeration once that adapter is free again.
    bool m_builtWhileConnected = false;
};
