#include "config/SettingsFile.h"

#include "common/LogCategories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <utility>

#include <fcntl.h>
#include <unistd.h>

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

SettingsFile::SettingsFile(QString directory)
    : m_pinned(std::move(directory)), m_writable(IsWritable) {}

SettingsFile::SettingsFile(QString executableDirectory, QString userDirectory,
                           WritableCheck writable)
    : m_executableDirectory(std::move(executableDirectory)),
      m_userDirectory(std::move(userDirectory)), m_writable(std::move(writable)) {}

bool SettingsFile::IsWritable(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // AT_EACCESS: judged with the ids that open() uses, not the real ones.
    return ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) == 0;
}

QString SettingsFile::UserDirectory(const QString& xdgConfigHome, const QString& home) {
    // Relative values are to be ignored: they would follow the working directory around.
    const QString base = !xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome)
                             ? xdgConfigHome
                             : QDir(home).filePath(QStringLiteral(".config"));
    return QDir::cleanPath(QDir(base).filePath(QString::fromLatin1(ConfigFolderName)));
}

QString SettingsFile::UserDirectory() {
    return UserDirectory(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
}

SettingsPlace SettingsFile::ChoosePlace(const QString& executableDirectory,
                                        const QString& userDirectory,
                                        const WritableCheck& writable) {
    if (executableDirectory.isEmpty())
        return {userDirectory, false};
    const QString besideExecutable =
        QDir(executableDirectory).filePath(QString::fromLatin1(FileName));
    // A settings file someone left writable in a read-only folder still counts as portable.
    if (writable(executableDirectory) ||
        (QFileInfo(besideExecutable).isFile() && writable(besideExecutable)))
        return {executableDirectory, true};
    return {userDirectory, false};
}

SettingsPlace SettingsFile::Place() const {
    if (!m_pinned.isEmpty())
        return {m_pinned, true};
    QString executable = m_executableDirectory;
    // Without an application object there is no executable path: stay where we are.
    if (executable.isEmpty() && QCoreApplication::instance())
        executable = QCoreApplication::applicationDirPath();
    if (executable.isEmpty())
        return {QString(), true};
    const QString user = m_userDirectory.isEmpty() ? UserDirectory() : m_userDirectory;
    return ChoosePlace(executable, user, m_writable);
}

QString SettingsFile::Directory() const {
    return Place().Directory;
}

void SettingsFile::LoadSettings(TerminalSettings& settings, const MenuCheck& setMenuCheck) const {
    const SettingsPlace place = EnterSettingsPlace();
    QFile file(filePath(place));
    if (!file.open(QIODevice::ReadOnly)) {
        // No file yet is the normal first start; anything else is worth a line.
        if (file.error() != QFileDevice::OpenError || file.exists())
            logFailure(lcFile(), "open", file.fileName(), file.errorString());
        return;
    }
    const QByteArray bytes = file.read(FullSize);
    if (file.error() != QFileDevice::NoError)
        logFailure(lcFile(), "read", file.fileName(), file.errorString());
    // A read error takes nothing, like an empty file.
    SerializeSettings(settings, bytes, setMenuCheck);
}

void SettingsFile::SaveSettings(const TerminalSettings& settings) const {
    const SettingsPlace place = EnterSettingsPlace();
    // The user folder is made on the first save.
    if (!place.EnterDirectory && !QDir().mkpath(place.Directory)) {
        logFailure(lcFile(), "mkdir", place.Directory, QStringLiteral("could not be created"));
        return;
    }
    // Written beside the target and renamed over it, so a failed write keeps the old file whole;
    // a folder that takes no new file gets the existing file rewritten in place instead.
    QSaveFile file(filePath(place));
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        logFailure(lcFile(), "open", file.fileName(), file.errorString());
        return;
    }
    const QByteArray bytes = SerializeSettings(settings);
    // commit() alone misses an error that only shows when its buffer is flushed.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        logFailure(lcFile(), "write", file.fileName(), file.errorString());
        file.cancelWriting();
        return;
    }
    if (!file.commit())
        logFailure(lcFile(), "commit", file.fileName(), file.errorString());
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

SettingsPlace SettingsFile::EnterSettingsPlace() const {
    const SettingsPlace place = Place();
    // Failing to move is silent; the file itself is still addressed in the settings folder.
    if (place.EnterDirectory && !place.Directory.isEmpty() && !QDir::setCurrent(place.Directory))
        logFailure(lcFile(), "chdir", place.Directory, QStringLiteral("failed"));
    return place;
}

QString SettingsFile::filePath(const SettingsPlace& place) {
    if (place.Directory.isEmpty())
        return QString::fromLatin1(FileName);
    return QDir(place.Directory).filePath(QString::fromLatin1(FileName));
}
