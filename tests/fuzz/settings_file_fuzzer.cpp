#include "config/SettingsFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

const QTemporaryDir& folder() {
    static const QTemporaryDir dir;
    return dir;
}

// The user folder's place: loads and saves leave the working directory alone.
SettingsFile settingsFile() {
    return SettingsFile(QStringLiteral("/nonexistent"), folder().path(),
                        [](const QString&) { return false; });
}

} // namespace

// A settings file as any earlier version, another program or a damaged disk left it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    fuzzCheck(folder().isValid(), "a temporary folder for the settings file");
    const QString path =
        QDir(folder().path()).filePath(QString::fromLatin1(SettingsFile::FileName));
    {
        QFile out(path);
        fuzzCheck(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size(),
                  "the input written as the settings file");
    }

    SettingsFile file = settingsFile();
    TerminalSettings loaded;
    file.LoadSettings(loaded);

    // The file is read as its first 24 bytes, field by field.
    TerminalSettings parsed;
    SettingsFile::SerializeSettings(parsed, bytes.left(SettingsFile::FullSize));
    fuzzCheck(loaded == parsed, "loading the file reads what its bytes say");

    // What was loaded is written in full. A record of a whole file (16 bytes or more) was range
    // checked and comes back the same; one of a cut file keeps the cut prefix unchecked, which
    // the next load checks.
    const QByteArray written = SettingsFile::SerializeSettings(loaded);
    fuzzCheck(written.size() == SettingsFile::FullSize, "a save writes every field");
    TerminalSettings again;
    SettingsFile::SerializeSettings(again, written);
    if (size >= 16)
        fuzzCheck(again == loaded, "a loaded record survives being written and read");
    TerminalSettings thrice;
    SettingsFile::SerializeSettings(thrice, SettingsFile::SerializeSettings(again));
    fuzzCheck(thrice == again, "a written and read record survives being written and read");

    // Through the file for the first inputs only: a save syncs the disk, which is slow, and what
    // it writes depends on nothing but the bytes checked above.
    static int fileSaves = 0;
    if (++fileSaves > 256)
        return 0;
    // Saving the record unchanged keeps what the file says.
    fuzzCheck(file.SaveSettings(loaded), "an unchanged record is saved");
    TerminalSettings reloaded;
    settingsFile().LoadSettings(reloaded);
    fuzzCheck(reloaded == again, "saving an unchanged record keeps the file's record");
    // A new object writes every field, and they come back as written.
    fuzzCheck(settingsFile().SaveSettings(again), "a record is saved");
    TerminalSettings fromFile;
    settingsFile().LoadSettings(fromFile);
    fuzzCheck(fromFile == thrice, "a saved record loads as its bytes say");
    return 0;
}
