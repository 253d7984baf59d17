#include "config/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <utility>

namespace {

// Reads fixed-width little-endian fields in order; a field that no longer fits ends the reading.
class FieldReader {
public:
    explicit FieldReader(const QByteArray& bytes) : m_bytes(bytes) {}

    bool read(std::uint8_t& value) {
        if (remaining() < 1)
            return fail();
        value = static_cast<std::uint8_t>(m_bytes[m_offset]);
        m_offset += 1;
        return true;
    }

    bool read(std::uint32_t& value) {
        if (remaining() < 4)
            return fail();
        value = qFromLittleEndian<std::uint32_t>(m_bytes.constData() + m_offset);
        m_offset += 4;
        return true;
    }

    bool read(std::int32_t& value) {
        if (remaining() < 4)
            return fail();
        value = qFromLittleEndian<std::int32_t>(m_bytes.constData() + m_offset);
        m_offset += 4;
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

SettingsFile::SettingsFile(QString directory) : m_directory(std::move(directory)) {}

QString SettingsFile::Directory() const {
    if (!m_directory.isEmpty())
        return m_directory;
    // Without an application object there is no executable path: stay where we are.
    if (!QCoreApplication::instance())
        return QString();
    return QCoreApplication::applicationDirPath();
}

void SettingsFile::LoadSettings(TerminalSettings& settings, const MenuCheck& setMenuCheck) const {
    EnterSettingsDirectory();
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(FullSize);
    // A read error takes nothing, like an empty file.
    SerializeSettings(settings, bytes, setMenuCheck);
}

void SettingsFile::SaveSettings(const TerminalSettings& settings) const {
    EnterSettingsDirectory();
    // Written beside the target and renamed over it, so a failed write keeps the old file whole.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray bytes = SerializeSettings(settings);
    // commit() alone misses an error that only shows when its buffer is flushed.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

void SettingsFile::SerializeSettings(TerminalSettings& settings, const QByteArray& bytes,
                                     const MenuCheck& setMenuCheck) {
    UartConfig& uart = settings.Uart;
    PinConfig& pins = settings.Pins;
    FieldReader reader(bytes);
    // Each field lands in the record as soon as it is read, so a short file keeps a prefix.
    reader.read(uart.BaudRate) && reader.read(uart.DataBits) && reader.read(uart.FlowControl) &&
        reader.read(uart.Parity) && reader.read(uart.StopBits) && reader.read(pins.Gpio0Mode) &&
        reader.read(pins.Gpio1Mode) && reader.read(pins.FourthPinMode) &&
        reader.read(pins.TxMode) && reader.read(settings.ToggleResetOnConnect);
    if (!reader.ok())
        return;

    applyRangeChecks(settings);

    // Older files end here: the send options take their defaults, menu marks already match them.
    if (reader.remaining() == 0) {
        settings.ClearSentTransferData = 1;
        settings.AutoSendTransferText = 0;
        return;
    }
    if (reader.remaining() < 8)
        return;

    reader.read(settings.ClearSentTransferData);
    reader.read(settings.AutoSendTransferText);
    if (setMenuCheck) {
        setMenuCheck(TerminalMenuItem::ClearSentTransferData, settings.ClearSentTransferData != 0);
        setMenuCheck(TerminalMenuItem::AutoSendTransferText, settings.AutoSendTransferText != 0);
    }
}

QByteArray SettingsFile::SerializeSettings(const TerminalSettings& settings) {
    const UartConfig& uart = settings.Uart;
    const PinConfig& pins = settings.Pins;
    QByteArray out;
    out.reserve(FullSize);
    appendField(out, uart.BaudRate);
    appendField(out, uart.DataBits);
    appendField(out, uart.FlowControl);
    appendField(out, uart.Parity);
    appendField(out, uart.StopBits);
    appendField(out, pins.Gpio0Mode);
    appendField(out, pins.Gpio1Mode);
    appendField(out, pins.FourthPinMode);
    appendField(out, pins.TxMode);
    appendField(out, settings.ToggleResetOnConnect);
    appendField(out, settings.ClearSentTransferData);
    appendField(out, settings.AutoSendTransferText);
    return out;
}

void SettingsFile::EnterSettingsDirectory() const {
    const QString directory = Directory();
    // Failing to move is silent; the file itself is still addressed in the settings directory.
    if (!directory.isEmpty())
        QDir::setCurrent(directory);
}

QString SettingsFile::filePath() const {
    const QString directory = Directory();
    if (directory.isEmpty())
        return QString::fromLatin1(FileName);
    return QDir(directory).filePath(QString::fromLatin1(FileName));
}
