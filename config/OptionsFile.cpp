#include "config/OptionsFile.h"

#include <QList>

#include <utility>

namespace {

const char* lineEndingName(LineEnding ending) {
    switch (ending) {
    case LineEnding::Cr:
        return "CR";
    case LineEnding::Lf:
        return "LF";
    case LineEnding::CrLf:
        return "CRLF";
    case LineEnding::None:
        break;
    }
    return "None";
}

// "1"/"0" only: anything else leaves the option as it was.
void readFlag(const QByteArray& value, bool& flag) {
    if (value == "1")
        flag = true;
    else if (value == "0")
        flag = false;
}

// A few hundred bytes at most; a huge file is not ours.
constexpr qint64 MaxFileSize = 64 * 1024;

} // namespace

OptionsFile::OptionsFile(SettingsFolder folder) : m_folder(std::move(folder)) {}

TerminalOptions OptionsFile::Parse(const QByteArray& text) {
    return Parse(text, TerminalOptions{});
}

TerminalOptions OptionsFile::Parse(const QByteArray& text, TerminalOptions options) {
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        const qsizetype equals = line.indexOf('=');
        if (line.isEmpty() || line.startsWith('#') || equals <= 0)
            continue;
        const QByteArray name = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (name == "FollowNewData")
            readFlag(value, options.FollowNewData);
        else if (name == "HoldWhileReading")
            readFlag(value, options.HoldWhileReading);
        else if (name == "ShowTimestamps")
            readFlag(value, options.ShowTimestamps);
        else if (name == "HexDumpLayout")
            readFlag(value, options.HexDumpLayout);
        else if (name == "AutoReconnect")
            readFlag(value, options.AutoReconnect);
        else if (name == "LineEnding") {
            for (LineEnding e :
                 {LineEnding::None, LineEnding::Cr, LineEnding::Lf, LineEnding::CrLf})
                if (value == lineEndingName(e))
                    options.SendLineEnding = e;
        }
    }
    return options;
}

QByteArray OptionsFile::Serialize(const TerminalOptions& o) {
    const auto flag = [](bool on) { return on ? QByteArray("1") : QByteArray("0"); };
    QByteArray out;
    out += "FollowNewData=" + flag(o.FollowNewData) + "\n";
    out += "HoldWhileReading=" + flag(o.HoldWhileReading) + "\n";
    out += "ShowTimestamps=" + flag(o.ShowTimestamps) + "\n";
    out += "HexDumpLayout=" + flag(o.HexDumpLayout) + "\n";
    out += QByteArray("LineEnding=") + lineEndingName(o.SendLineEnding) + "\n";
    out += "AutoReconnect=" + flag(o.AutoReconnect) + "\n";
    return out;
}

TerminalOptions OptionsFile::Merge(const TerminalOptions& mine, const TerminalOptions& known,
                                   const TerminalOptions& onDisk) {
    TerminalOptions out = onDisk;
    const auto takeMineIfChanged = [&](auto field) {
        if (mine.*field != known.*field)
            out.*field = mine.*field;
    };
    takeMineIfChanged(&TerminalOptions::FollowNewData);
    takeMineIfChanged(&TerminalOptions::HoldWhileReading);
    takeMineIfChanged(&TerminalOptions::ShowTimestamps);
    takeMineIfChanged(&TerminalOptions::HexDumpLayout);
    takeMineIfChanged(&TerminalOptions::SendLineEnding);
    takeMineIfChanged(&TerminalOptions::AutoReconnect);
    return out;
}

TerminalOptions OptionsFile::Load() {
    const QString name = QString::fromLatin1(FileName);
    const std::optional<QByteArray> text = SettingsFolder::ReadRegularFile(
        SettingsFolder::FilePath(m_folder.Place(name), name), MaxFileSize);
    const TerminalOptions options = text ? Parse(*text) : TerminalOptions{};
    m_known = options;
    return options;
}

bool OptionsFile::Save(const TerminalOptions& options) {
    const QString name = QString::fromLatin1(FileName);
    const SettingsPlace place = m_folder.Place(name);
    if (!SettingsFolder::MakeFolder(place))
        return false;
    const QString path = SettingsFolder::FilePath(place, name);
    TerminalOptions merged = options;
    if (m_known) {
        // An option the file does not hold (no file, a line missing) is written as this one has it.
        const std::optional<QByteArray> text = SettingsFolder::ReadRegularFile(path, MaxFileSize);
        merged = Merge(options, *m_known, text ? Parse(*text, options) : options);
    }
    if (!SettingsFolder::WriteWholeFile(path, Serialize(merged)))
        return false;
    m_known = options;
    return true;
}

TerminalOptions OptionsFile::Load(const QString& directory) {
    if (directory.isEmpty())
        return {};
    return OptionsFile(SettingsFolder(directory)).Load();
}

bool OptionsFile::Save(const QString& directory, const TerminalOptions& options) {
    if (directory.isEmpty())
        return false;
    return OptionsFile(SettingsFolder(directory)).Save(options);
}
