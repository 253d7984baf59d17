#include "config/OptionsFile.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QSaveFile>

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

} // namespace

TerminalOptions OptionsFile::Parse(const QByteArray& text) {
    TerminalOptions options;
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

TerminalOptions OptionsFile::Load(const QString& directory) {
    if (directory.isEmpty())
        return {};
    QFile file(QDir(directory).filePath(QString::fromLatin1(FileName)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A few hundred bytes at most; a huge file is not ours.
    return Parse(file.read(64 * 1024));
}

bool OptionsFile::Save(const QString& directory, const TerminalOptions& options) {
    if (directory.isEmpty() || !QDir().mkpath(directory))
        return false;
    QSaveFile file(QDir(directory).filePath(QString::fromLatin1(FileName)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(Serialize(options));
    return file.commit();
}
