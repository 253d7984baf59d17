#include "config/OptionsFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <set>

namespace {

const QTemporaryDir& folder() {
    static const QTemporaryDir dir;
    return dir;
}

} // namespace

// An options file edited by hand, cut short or left by another version.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    fuzzCheck(folder().isValid(), "a temporary folder for the options file");
    const QString path = QDir(folder().path()).filePath(QString::fromLatin1(OptionsFile::FileName));
    {
        QFile out(path);
        fuzzCheck(out.open(QIODevice::WriteOnly) && out.write(text) == text.size(),
                  "the input written as the options file");
    }
    const TerminalOptions loaded = OptionsFile::Load(folder().path());
    fuzzCheck(loaded == OptionsFile::Parse(text), "loading the file reads what its text says");

    // Whatever was read is saved and read back the same, and saving it again changes nothing.
    const QByteArray written = OptionsFile::Serialize(loaded);
    fuzzCheck(OptionsFile::Parse(written) == loaded, "options survive being written and read");
    // There are 128 records; each goes through the file once (a save syncs the disk, slowly).
    static std::set<QByteArray> savedOnce;
    if (!savedOnce.insert(written).second)
        return 0;
    fuzzCheck(OptionsFile::Save(folder().path(), loaded), "the options file is saved");
    QFile saved(path);
    fuzzCheck(saved.open(QIODevice::ReadOnly), "the saved options file opens");
    const QByteArray savedText = saved.readAll();
    fuzzCheck(savedText == OptionsFile::Serialize(loaded), "a save writes every option");
    fuzzCheck(OptionsFile::Load(folder().path()) == loaded, "options survive a save and a load");
    fuzzCheck(OptionsFile::Serialize(OptionsFile::Parse(savedText)) == savedText,
              "a saved file reads back to the same text");
    return 0;
}
