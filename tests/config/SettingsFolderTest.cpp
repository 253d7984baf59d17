#include "config/SettingsFolder.h"
#include "config/OptionsFile.h"
#include "config/SettingsFile.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/TmpfsMount.h"
#include "tests/support/UnprivilegedFileAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

// The two files of the settings folder, driven the same way: a full disk, a vanished folder, a
// pipe in their place, and where the demo keeps them.

namespace {

enum class Kind { Settings, Options };

void PrintTo(Kind kind, std::ostream* os) {
    *os << (kind == Kind::Settings ? "settings file" : "options file");
}

const char* fileNameOf(Kind kind) {
    return kind == Kind::Settings ? SettingsFile::FileName : OptionsFile::FileName;
}

// Two different records of each kind, told apart by one field, and what each saves as.
TerminalSettings settingsVariant(int variant) {
    TerminalSettings s;
    s.Uart.BaudRate = variant == 1 ? 9600 : 0x80000000u;
    return s;
}
TerminalOptions optionsVariant(int variant) {
    TerminalOptions o;
    o.ShowTimestamps = variant == 1;
    o.HexDumpLayout = variant != 1;
    return o;
}
QByteArray bytesOf(Kind kind, int variant) {
    return kind == Kind::Settings ? SettingsFile::SerializeSettings(settingsVariant(variant))
                                  : OptionsFile::Serialize(optionsVariant(variant));
}

// One window's object for a file of the folder: loads and saves as the session does.
class StoredFile {
public:
    StoredFile(Kind kind, const SettingsFolder& folder)
        : m_kind(kind), m_settings(folder), m_options(folder) {}

    void load() {
        if (m_kind == Kind::Settings)
            m_settings.LoadSettings(m_record);
        else
            m_optionRecord = m_options.Load();
    }
    bool save(int variant) {
        return m_kind == Kind::Settings ? m_settings.SaveSettings(settingsVariant(variant))
                                        : m_options.Save(optionsVariant(variant));
    }
    // What the last load gave, in the file's form.
    QByteArray loaded() const {
        return m_kind == Kind::Settings ? SettingsFile::SerializeSettings(m_record)
                                        : OptionsFile::Serialize(m_optionRecord);
    }

private:
    Kind m_kind;
    SettingsFile m_settings;
    OptionsFile m_options;
    TerminalSettings m_record;
    TerminalOptions m_optionRecord;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& dir) {
    // System: named pipes too.
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot |
                               QDir::Hidden);
}

std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::Settings ? "SettingsFile" : "OptionsFile";
}

class SettingsFolderFiles : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_savedCwd = QDir::currentPath();
    }
    void TearDown() override { QDir::setCurrent(m_savedCwd); }

    QString filePath(const QString& folder) const {
        return QDir(folder).filePath(fileNameOf(GetParam()));
    }

    QTemporaryDir m_dir;
    QString m_savedCwd;
};

// ---------------------------------------------------------------- a full file system

TEST_P(SettingsFolderFiles, SaveOnAFullDiskFailsAndKeepsTheOldFileWhole) {
    TmpfsMount disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.skipReason();
    const Kind kind = GetParam();
    StoredFile file(kind, SettingsFolder(disk.path()));
    ASSERT_TRUE(file.save(1));
    ASSERT_EQ(readAll(filePath(disk.path())), bytesOf(kind, 1));

    ASSERT_TRUE(disk.fill("filler"));
    EXPECT_FALSE(file.save(2)) << "a save that stored nothing says so";
    EXPECT_EQ(readAll(filePath(disk.path())), bytesOf(kind, 1));
    EXPECT_EQ(entries(disk.path()), (QStringList{"filler", fileNameOf(kind)}))
        << "no temporary file is left behind";

    // With room again the same change goes through.
    ASSERT_TRUE(QFile::remove(QDir(disk.path()).filePath("filler")));
    EXPECT_TRUE(file.save(2));
    EXPECT_EQ(readAll(filePath(disk.path())), bytesOf(kind, 2));
}

// ---------------------------------------------------------------- a folder that vanished

struct VanishCase {
    const char* name;
    bool userFolder; // false: a fixed folder; true: the user folder of an installed copy
};

TEST_P(SettingsFolderFiles, FolderThatVanishedIsMadeAgainByTheNextSave) {
    const Kind kind = GetParam();
    const VanishCase cases[] = {{"fixed folder", false}, {"user folder", true}};
    for (const VanishCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = m_dir.filePath(QString("%1/a/b").arg(c.name));
        const QString bin = m_dir.filePath("bin");
        ASSERT_TRUE(QDir().mkpath(bin));
        const SettingsFolder settingsFolder =
            c.userFolder ? SettingsFolder(bin, folder, [](const QString&) { return false; })
                         : SettingsFolder(folder);
        StoredFile file(kind, settingsFolder);
        file.load();
        ASSERT_TRUE(file.save(1));
        ASSERT_TRUE(QDir(m_dir.filePath(c.name)).removeRecursively());
        // The working directory may have been inside the folder that went.
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));

        EXPECT_TRUE(file.save(2));
        EXPECT_EQ(readAll(filePath(folder)), bytesOf(kind, 2));
        EXPECT_TRUE(entries(bin).isEmpty());
    }
}

// ---------------------------------------------------------------- not a regular file

TEST_P(SettingsFolderFiles, NamedPipeInItsPlaceIsNeitherWaitedOnNorWrittenThrough) {
    const Kind kind = GetParam();
    const NamedPipe pipe(filePath(m_dir.path()));
    ASSERT_TRUE(pipe.made());
    LogCapture log("wendrake.file");
    StoredFile file(kind, SettingsFolder(m_dir.path()));
    file.load();
    EXPECT_EQ(file.loaded(), kind == Kind::Settings
                                 ? SettingsFile::SerializeSettings(TerminalSettings{})
                                 : OptionsFile::Serialize(TerminalOptions{}))
        << "the defaults";
    EXPECT_FALSE(file.save(1));
    EXPECT_FALSE(pipe.rescued()) << "a load or save waited on the pipe";

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(pipe.path()).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe was replaced";
    EXPECT_EQ(entries(m_dir.path()), QStringList{fileNameOf(kind)});
    EXPECT_TRUE(log.logged({pipe.path(), "not a regular file"}))
        << log.lines().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothFiles, SettingsFolderFiles,
                         ::testing::Values(Kind::Settings, Kind::Options), kindName);

// ---------------------------------------------------------------- the demo's own folder

// The user folder an installed copy falls back to is named after the program, so the demo's
// tries never reach the real terminal's settings; a build tree keeps both beside the programs.
TEST(SettingsFolderPrograms, InstalledDemoKeepsItsOwnFolder) {
    // Root's build tree is closed to an ordinary user, as an installed copy's folder is.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to judge the build tree as an ordinary user would";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(UnprivilegedFileAccess::Share(config.path(), 0755));
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    struct Case {
        const char* name;
        const char* program;
        bool installed; // judged as an ordinary user, who may not write the executable's folder
        SettingsPlace expected;
    };
    const QString terminalFolder = config.filePath(SettingsFolder::TerminalFolderName);
    const QString demoFolder = config.filePath(SettingsFolder::DemoFolderName);
    const Case cases[] = {
        {"terminal installed", SettingsFolder::TerminalFolderName, true, {terminalFolder, false}},
        {"demo installed", SettingsFolder::DemoFolderName, true, {demoFolder, false}},
        {"demo in a build tree",
         SettingsFolder::DemoFolderName,
         false,
         {QCoreApplication::applicationDirPath(), true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<UnprivilegedFileAccess> user;
        if (c.installed) {
            user.emplace();
            ASSERT_TRUE(user->active());
        }
        const SettingsFolder folder = SettingsFolder::ForProgram(c.program);
        EXPECT_EQ(folder.Place(SettingsFile::FileName), c.expected);
        EXPECT_EQ(folder.Place(OptionsFile::FileName), c.expected);
    }
    {
        // A save of the installed demo makes its own folder and leaves the terminal's unmade.
        UnprivilegedFileAccess user;
        ASSERT_TRUE(user.active());
        const QString savedCwd = QDir::currentPath();
        EXPECT_TRUE(SettingsFile(SettingsFolder::ForProgram(SettingsFolder::DemoFolderName))
                        .SaveSettings(settingsVariant(1)));
        EXPECT_EQ(QDir::currentPath(), savedCwd);
    }
    EXPECT_EQ(readAll(QDir(demoFolder).filePath(SettingsFile::FileName)),
              bytesOf(Kind::Settings, 1));
    EXPECT_EQ(entries(config.path()), QStringList{SettingsFolder::DemoFolderName});
    qputenv("XDG_CONFIG_HOME", savedXdg);
    if (savedXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
