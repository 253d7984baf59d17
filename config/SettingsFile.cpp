#include "config/SettingsFile.h"

#include "common/LogCategories.h"

#include <QDir>
#include <QtEndian>

#include <utility>

namespace {

// Reads fixed-width little-endian fields in order; a field that no longer fits ends the reading.
class FieldReader {
public:
    explicit FieldReader(const QByteArray& bytes) : m_bytes(bytes) {}

    // One little-endian field of its own size.
    template <typename T> bool read(T& value) {
        if (remaining() < static_cast<qsizetype>(sizeof(T)))
            return fail();
        value = qFromLittleEndian<T>(m_bytes.constData() + m_offset);
        m_offset += sizeof(T);
        return true;
    }

    // True while every field so far was read whole.
    bool ok() const { return m_ok; }
    qsizetype remaining() const { return m_ok ? m_bytes.size() - m_offset : 0; }

private:
    bool fail() {
        m_ok = false;
        return false;
    }

    const QByteArray& m_bytes;
    qsizetype m_offset = 0;
    bool m_ok = true;
};

void appendField(QByteArray& out, std::uint8_t value) {
    out.append(static_cast<char>(value));
}

template <typename T> void appendField(QByteArray& out, T value) {
    char bytes[sizeof(T)];
    qToLittleEndian<T>(value, bytes);
    out.append(bytes, sizeof(T));
}

// The file's fields in their order, one table for the reader, the writer and the merge: the
// adapter's settings, then the two send options that older files end before. Each visit says
// whether to go on.
template <typename Settings, typename Visit> bool adapterFields(Settings& s, Visit visit) {
    return visit(s.Uart.BaudRate) && visit(s.Uart.DataBits) && visit(s.Uart.FlowControl) &&
           visit(s.Uart.Parity) && visit(s.Uart.StopBits) && visit(s.Pins.Gpio0Mode) &&
           visit(s.Pins.Gpio1Mode) && visit(s.Pins.FourthPinMode) && visit(s.Pins.TxMode) &&
           visit(s.ToggleResetOnConnect);
}

template <typename Settings, typename Visit> bool sendOptionFields(Settings& s, Visit visit) {
    return visit(s.ClearSentTransferData) && visit(s.AutoSendTransferText);
}

constexpr qsizetype SendOptionBytes = sizeof(TerminalSettings::ClearSentTransferData) +
                                      sizeof(TerminalSettings::AutoSendTransferText);

void applyRangeChecks(TerminalSettings& settings) {
    UartConfig& uart = settings.Uart;
    PinConfig& pins = settings.Pins;
    if (uart.DataBits < 5 || uart.DataBits > 8)
        uart.DataBits = 8;
    uart.FlowControl &= 1;
    if (uart.Parity > 4)
        uart.Parity = 0;
    uart.StopBits &= 1;
    // An unknown pin mode falls back to what the flow control setting needs of that pin.
    if (pins.Gpio0Mode > 4)
        pins.Gpio0Mode = uart.FlowControl == 1 ? 3 : 0;
    if (pins.Gpio1Mode > 3)
        pins.Gpio1Mode = uart.FlowControl == 1 ? 3 : 0;
    pins.FourthPinMode &= 1;
    pins.TxMode &= 1;
}

} // namespace

SettingsFile::SettingsFile(QString directory) : m_folder(std::move(directory)) {}

SettingsFile::SettingsFile(QString executableDirectory, QString userDirectory,
                           SettingsFolder::WritableCheck writable)
    : m_folder(std::move(executableDirectory), std::move(userDirectory), std::move(writable)) {}

SettingsFile::SettingsFile(SettingsFolder folder) : m_folder(std::move(folder)) {}

SettingsPlace SettingsFile::Place() const {
    return m_folder.Place(QString::fromLatin1(FileName));
}

QString SettingsFile::Directory() const {
    return Place().Directory;
}

void SettingsFile::LoadSettings(TerminalSettings& settings) {
    const SettingsPlace place = Place();
    EnterSettingsPlace(place);
    const std::optional<QByteArray> bytes = SettingsFolder::ReadRegularFile(
        SettingsFolder::FilePath(place, QString::fromLatin1(FileName)), FullSize);
    if (bytes)
        SerializeSettings(settings, *bytes);
    m_known = SerializeSettings(settings);
}

bool SettingsFile::SaveSettings(const TerminalSettings& settings) {
    const SettingsPlace place = Place();
    // Made again when it vanished while the program ran, whichever place it is.
    if (!SettingsFolder::MakeFolder(place))
        return false;
    EnterSettingsPlace(place);
    const QString path = SettingsFolder::FilePath(place, QString::fromLatin1(FileName));
    const QByteArray mine = SerializeSettings(settings);
    QByteArray bytes = mine;
    if (m_known) {
        const std::optional<QByteArray> onDisk = SettingsFolder::ReadRegularFile(path, FullSize);
        bytes = MergeSettings(mine, *m_known, onDisk.value_or(QByteArray()));
    }
    if (!SettingsFolder::WriteWholeFile(path, bytes))
        return false;
    m_known = mine;
    return true;
}

void SettingsFile::SerializeSettings(TerminalSettings& settings, const QByteArray& bytes) {
    FieldReader reader(bytes);
    const auto read = [&reader](auto& field) { return reader.read(field); };
    // Each field lands in the record as soon as it is read, so a short file keeps a prefix.
    adapterFields(settings, read);
    if (!reader.ok())
        return;

    applyRangeChecks(settings);

    // Older files end here: the send options take their defaults.
    if (reader.remaining() == 0) {
        settings.ClearSentTransferData = 1;
        settings.AutoSendTransferText = 0;
        return;
    }
    if (reader.remaining() < SendOptionBytes)
        return;
    sendOptionFields(settings, read);
}

QByteArray SettingsFile::SerializeSettings(const TerminalSettings& settings) {
    QByteArray out;
    out.reserve(FullSize);
    const auto append = [&out](const auto& field) {
        appendField(out, field);
        return true;
    };
    adapterFields(settings, append);
    sendOptionFields(settings, append);
    return out;
}

QByteArray SettingsFile::MergeSettings(const QByteArray& mine, const QByteArray& known,
                                       const QByteArray& onDisk) {
    QByteArray out = mine;
    qsizetype offset = 0;
    // Only what a load would take from the file is kept from it.
    qsizetype readable = onDisk.size();
    // Field by field, at the offsets and sizes of the one field table.
    const auto merge = [&](const auto& field) {
        const qsizetype size = sizeof(field);
        const bool changedHere = mine.mid(offset, size) != known.mid(offset, size);
        if (!changedHere && readable >= offset + size)
            out.replace(offset, size, onDisk.constData() + offset, size);
        offset += size;
        return true;
    };
    const TerminalSettings layout;
    adapterFields(layout, merge);
    // A load takes the send options only from a whole file; a cut one gives their defaults,
    // so its leftover bytes must not come back as values nobody saw.
    if (onDisk.size() < FullSize)
        readable = offset;
    sendOptionFields(layout, merge);
    return out;
}

void SettingsFile::EnterSettingsPlace(const SettingsPlace& place) const {
    // Failing to move is silent; the file itself is still addressed in the settings folder.
    if (place.EnterDirectory && !place.Directory.isEmpty() && !QDir::setCurrent(place.Directory))
        logFailure(lcFile(), "chdir", place.Directory, QStringLiteral("failed"));
}
