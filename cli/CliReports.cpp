#include "cli/CliReports.h"

#include "connection/AdapterAccessDetail.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QByteArray jsonLine(const QJsonDocument& document) {
    return document.toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QString CliReports::AccessWord(const AdapterFinder::Entry& entry) {
    if (!entry.Problem)
        return QStringLiteral("ok");
    switch (entry.Problem->Why) {
    case HidAccessProblem::Reason::Permission:
        return QStringLiteral("no permission");
    case HidAccessProblem::Reason::InUse:
        return QStringLiteral("in use");
    case HidAccessProblem::Reason::Other:
        break;
    }
    return QStringLiteral("cannot open");
}

QByteArray CliReports::List(const std::vector<AdapterFinder::Entry>& entries, bool json) {
    if (json) {
        QJsonArray array;
        for (const AdapterFinder::Entry& entry : entries) {
            QJsonObject object{{QStringLiteral("serial"),
                                entry.HasSerial ? QJsonValue(entry.Serial) : QJsonValue()},
                               {QStringLiteral("node"), entry.Path},
                               {QStringLiteral("access"), AccessWord(entry)}};
            if (entry.Problem)
                object.insert(QStringLiteral("reason"),
                              AdapterAccessDetail::ReasonText(*entry.Problem));
            array.append(object);
        }
        return jsonLine(QJsonDocument(array));
    }
    const auto serialOf = [](const AdapterFinder::Entry& entry) {
        return entry.HasSerial ? entry.Serial : QStringLiteral("-");
    };
    qsizetype serialWidth = 0;
    qsizetype pathWidth = 0;
    for (const AdapterFinder::Entry& entry : entries) {
        serialWidth = std::max(serialWidth, serialOf(entry).size());
        pathWidth = std::max(pathWidth, entry.Path.size());
    }
    QString text;
    for (const AdapterFinder::Entry& entry : entries) {
        const QString access =
            entry.Problem ? AdapterAccessDetail::ReasonText(*entry.Problem) : QStringLiteral("ok");
        text += serialOf(entry).leftJustified(serialWidth) + QStringLiteral("  ") +
                entry.Path.leftJustified(pathWidth) + QStringLiteral("  ") + access +
                QLatin1Char('\n');
    }
    return text.toUtf8();
}

QByteArray CliReports::Pins(const std::vector<PinNames::Pin>& pins, std::uint8_t latch,
                            const QString& serial, bool json) {
    if (json) {
        QJsonArray array;
        for (const PinNames::Pin& pin : pins) {
            QJsonObject object{{QStringLiteral("name"), pin.Name},
                               {QStringLiteral("level"), (latch & pin.Bit) ? 1 : 0},
                               {QStringLiteral("writable"), pin.Writable}};
            if (!pin.Mode.isEmpty())
                object.insert(QStringLiteral("mode"), pin.Mode);
            array.append(object);
        }
        return jsonLine(QJsonDocument(
            QJsonObject{{QStringLiteral("serial"), serial}, {QStringLiteral("pins"), array}}));
    }
    QString text;
    for (const PinNames::Pin& pin : pins) {
        const QString level = (latch & pin.Bit) ? QStringLiteral("High") : QStringLiteral("Low");
        QString line = pin.Name.leftJustified(8) + QStringLiteral("  ") + level;
        if (!pin.Mode.isEmpty())
            line = line.leftJustified(14) + QStringLiteral("  ") + pin.Mode;
        text += line + QLatin1Char('\n');
    }
    return text.toUtf8();
}

QByteArray CliReports::Fifo(const FifoStatus& counts, const QString& serial, bool json) {
    if (json)
        return jsonLine(QJsonDocument(QJsonObject{{QStringLiteral("serial"), serial},
                                                  {QStringLiteral("tx"), counts.TxCount},
                                                  {QStringLiteral("rx"), counts.RxCount}}));
    return QStringLiteral("tx %1\nrx %2\n").arg(counts.TxCount).arg(counts.RxCount).toUtf8();
}
