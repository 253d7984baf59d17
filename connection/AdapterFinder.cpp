#include "connection/AdapterFinder.h"

#include "connection/AdapterAccessDetail.h"

AdapterFinder::AdapterFinder(CWendrake& adapter) : m_adapter(adapter) {}

QString AdapterFinder::SerialText(const std::u16string& serial) {
    QString text;
    text.reserve(qsizetype(serial.size()));
    for (const char16_t unit : serial)
        text += QChar(char16_t(unit & 0xFF));
    return text;
}

std::vector<AdapterFinder::Entry> AdapterFinder::List() {
    std::vector<Entry> entries;
    int index = 0;
    for (const auto& found : m_adapter.Device().ListMatching(WendrakeVendorId, WendrakeProductId)) {
        Entry entry;
        entry.HasSerial = found.Serial.has_value();
        if (found.Serial)
            entry.Serial = SerialText(*found.Serial);
        entry.Path = QString::fromStdString(found.Path);
        entry.Index = index++;
        entries.push_back(std::move(entry));
    }
    HidPlatform& platform = m_adapter.Device().Platform();
    const auto problems = platform.inaccessibleInterfaces(WendrakeVendorId, WendrakeProductId);
    if (problems) {
        for (const HidAccessProblem& problem : *problems) {
            Entry entry;
            const auto serial = platform.serialWithoutOpening(problem.Path);
            entry.HasSerial = serial.has_value();
            if (serial)
                entry.Serial = SerialText(*serial);
            entry.Path = QString::fromStdString(problem.Path);
            entry.Problem = problem;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

QString AdapterFinder::name(const Entry& entry) {
    return entry.HasSerial ? entry.Serial : entry.Path;
}

AdapterFinder::Choice AdapterFinder::inaccessible(const Entry& entry) {
    Choice choice{Outcome::Inaccessible, entry, {}};
    const QString who = entry.HasSerial
                            ? entry.Serial + QStringLiteral(" (") + entry.Path + QLatin1Char(')')
                            : entry.Path;
    choice.Message = QStringLiteral("adapter ") + who + QStringLiteral(": ") +
                     AdapterAccessDetail::ReasonText(*entry.Problem);
    return choice;
}

AdapterFinder::Choice AdapterFinder::Choose(const QString& serial) {
    const std::vector<Entry> entries = List();
    if (entries.empty())
        return {Outcome::NoAdapter,
                {},
                QStringLiteral("no Wendrake adapter (USB e7a2:4d15) is attached")};

    QStringList names;
    for (const Entry& entry : entries)
        names << name(entry);

    if (serial.isEmpty()) {
        // With several attached, picking one would be a guess about which board is meant.
        if (entries.size() > 1)
            return {Outcome::Several,
                    {},
                    QStringLiteral("several adapters are attached (") + names.join(", ") +
                        QStringLiteral("): choose one with -s SERIAL")};
        if (entries.front().Problem)
            return inaccessible(entries.front());
        return {Outcome::Found, entries.front(), {}};
    }

    for (const Entry& entry : entries) {
        if (entry.HasSerial && entry.Serial == serial)
            return entry.Problem ? inaccessible(entry) : Choice{Outcome::Found, entry, {}};
    }
    // One that cannot be opened may be the one, if it does not tell its serial.
    for (const Entry& entry : entries) {
        if (!entry.HasSerial && entry.Problem)
            return inaccessible(entry);
    }
    return {Outcome::NotFound,
            {},
            QStringLiteral("no adapter with serial ") + serial +
                QStringLiteral(" is attached (attached: ") + names.join(", ") + QLatin1Char(')')};
}
