#include "config/SettingsFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <map>

namespace {

const QTemporaryDir& folder() {
    static const QTemporaryDir dir;
    return dir;
}

} // namespace

// A settings file as any earlier version, another program or a damaged disk left it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    fuzzCheck(folder().isValid(), "a temporary folder for the settings file");
    // The user folder's place: loads and saves leave the working directory alone.
    const SettingsFile file(QStringLiteral("/nonexistent"), folder().path(),
                            [](const QString&) { return false; });
    {
        QFile out(QDir(folder().path()).filePath(QString::fromLatin1(SettingsFile::FileName)));
        fuzzCheck(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size(),
                  "the input written as the settings file");
    }

    std::map<int, bool> marks;
    const auto mark = [&marks](int item, bool checked) { marks[item] = checked; };
    TerminalSettings loaded;
    file.LoadSettings(loaded, mark);

    // The file is read as its first 24 bytes, field by field.
    TerminalSettings parsed;
    SettingsFile::SerializeSettings(parsed, bytes.left(SettingsFile::FullSize), nullptr);
    fuzzCheck(loaded == parsed, "loading the file reads what its bytes say");
    for (const auto& [item, checked] : marks) {
        const std::int32_t value = item == TerminalMenuItem::ClearSentTransferData
                                       ? loaded.ClearSentTransferData
                                       : loaded.AutoSendTransferText;
        fuzzCheck(checked == (value != 0), "a menu mark shows its loaded option");
    }

    // What was loaded is saved in full. A record of a whole file (16 bytes or more) was range
    // checked and comes back the same; one of a cut file keeps the cut prefix unchecked, which
    // the next load checks.
    const QByteArray saved = SettingsFile::SerializeSettings(loaded);
    fuzzCheck(saved.size() == SettingsFile::FullSize, "a save writes every field");
    TerminalSettings again;
    SettingsFile::SerializeSettings(again, saved, nullptr);
    if (size >= 16)
        fuzzCheck(again == loaded, "a loaded record survives a save and a load");
    TerminalSettings thrice;
    SettingsFile::SerializeSettings(thrice, SettingsFile::SerializeSettings(again), nullptr);
    fuzzCheck(thrice == again, "a saved and loaded record survives a save and a load");

    // The same through the file for the first inputs only: a save syncs the disk, which is slow,
    // and what it writes depends on nothing but the 24 bytes checked above.
    static int fileSaves = 0;
    if (++fileSaves <= 256) {
        file.SaveSettings(loaded);
        TerminalSettings fromFile;
        file.LoadSettings(fromFile, nullptr);
        fuzzCheck(fromFile == again, "the saved file loads as its bytes say");
    }
    return 0;
}
