#include "terminal/AdapterChooser.h"

#include "connection/TerminalSession.h"
#include "dialogs/DialogBuilder.h"

#include <QComboBox>

void AdapterChooser::refresh() {
    DialogBuilder::fillList(m_list, m_session.AdapterSerials(), 0);
    m_builtWhileConnected = m_session.IsConnected();
}

AdapterChooser::Choice AdapterChooser::choice() const {
    Choice choice;
    choice.entry = m_list->count() == 0 ? -1 : m_list->currentIndex();
    choice.adapterIndex = choice.entry;
    if (m_builtWhileConnected && choice.entry >= 0) {
        // The adapter opened is the one whose serial was picked.
        QStringList listed;
        for (int i = 0; i < m_list->count(); ++i)
            listed << m_list->itemText(i);
        choice.adapterIndex = m_session.CurrentAdapterIndex(listed, choice.entry);
    }
    return choice;
}

QString AdapterChooser::serialOf(int entry) const {
    return m_list->itemText(entry);
}

bool AdapterChooser::select(const QString& serial) {
    const int index = m_list->findText(serial, Qt::MatchExactly);
    if (index < 0)
        return false;
    m_list->setCurrentIndex(index);
    return true;
}

void AdapterChooser::setEnabled(bool enabled) {
    m_list->setEnabled(enabled);
}
