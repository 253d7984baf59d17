#include "config/OptionsFile.h"
#include "config/SettingsFile.h"
#include "tests/support/UnprivilegedFileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// ---------------------------------------------------------------- the rule on its own

struct PlaceCase {
    const char* name;
    bool folderWritable;
    bool fileExists;
    bool fileWritable;
    bool portable;
};

class SettingsPlaceRule : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(SettingsPlaceRule, ChoosesTheFolder) {
    const PlaceCase& c = GetParam();
    QTemporaryDir exe;
    ASSERT_TRUE(exe.isValid());
    const QString file = exe.filePath(SettingsFile::FileName);
    if (c.fileExists) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QStringList asked;
    const auto writable = [&](const QString& path) {
        asked << path;
        return path == exe.path() ? c.folderWritable : c.fileWritable;
    };
    const SettingsPlace place = SettingsFolder::ChoosePlace(exe.path(), "/home/u/.config/wt",
                                                            SettingsFile::FileName, writable);
    const SettingsPlace expected =
        c.portable ? SettingsPlace{exe.path(), true} : SettingsPlace{"/home/u/.config/wt", false};
    EXPECT_EQ(place, expected);
    // A file that is not there is never asked about.
    if (!c.fileExists) {
        EXPECT_FALSE(asked.contains(file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SettingsPlaceRule,
    ::testing::Values(PlaceCase{"WritableFolder", true, false, false, true},
                      PlaceCase{"WritableFolderReadOnlyFile", true, true, false, true},
                      PlaceCase{"ReadOnlyFolderNoFile", false, false, false, false},
                      PlaceCase{"ReadOnlyFolderReadOnlyFile", false, true, false, false},
                      PlaceCase{"ReadOnlyFolderWritableFile", false, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct UserDirCase {
    const char* name;
    QString xdg;
    QString home;
    QString expected;
};

class SettingsUserDirectory : public ::testing::TestWithParam<UserDirCase> {};

TEST_P(SettingsUserDirectory, FromTheEnvironment) {
    const UserDirCase& c = GetParam();
    EXPECT_EQ(SettingsFolder::UserDirectory(c.xdg, c.home), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsUserDirectory,
                         ::testing::Values(UserDirCase{"XdgSet", "/x/conf", "/home/ann",
                                                       "/x/conf/wendrake-terminal"},
                                           UserDirCase{"XdgTrailingSlash", "/x/conf/", "/home/ann",
                                                       "/x/conf/wendrake-terminal"},
                                           UserDirCase{"XdgEmpty", "", "/home/ann",
                                                       "/home/ann/.config/wendrake-terminal"},
                                           UserDirCase{"XdgRelativeIsIgnored", "conf", "/home/ann",
                                                       "/home/ann/.config/wendrake-terminal"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- real folders, ordinary user

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// An executable folder and a home for the user folder, reachable by the test user, and a start
// folder the process is in before each load or save.
class SettingsPlaceFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(UnprivilegedFileAccess::Share(m_root.path(), 0755));
        for (const QString& name : {QString("bin"), QString("home"), QString("start")}) {
            ASSERT_TRUE(QDir(m_root.path()).mkdir(name));
            ASSERT_TRUE(UnprivilegedFileAccess::Share(m_root.filePath(name), 0755));
        }
        m_savedCwd = QDir::currentPath();
    }
    void TearDown() override {
        QDir::setCurrent(m_savedCwd);
        // The read-only folder must be writable again for the clean-up.
        UnprivilegedFileAccess::Restrict(exeDir(), 0755);
    }

    QString exeDir() const { return m_root.filePath("bin"); }
    QString userDir() const { return m_root.filePath("home/.config/wendrake-terminal"); }
    QString startDir() const { return m_root.filePath("start"); }

    // Loads and saves as an ordinary user would, starting in the start folder each time.
    void saveAsUser(const TerminalSettings& settings) {
        ASSERT_TRUE(QDir::setCurrent(startDir()));
        UnprivilegedFileAccess user;
        ASSERT_TRUE(user.active());
        SettingsFile(exeDir(), userDir()).SaveSettings(settings);
    }
    TerminalSettings loadAsUser() {
        TerminalSettings loaded;
        EXPECT_TRUE(QDir::setCurrent(startDir()));
        UnprivilegedFileAccess user;
        EXPECT_TRUE(user.active());
        SettingsFile(exeDir(), userDir()).LoadSettings(loaded);
        return loaded;
    }

    QTemporaryDir m_root;
    QString m_savedCwd;
};

TerminalSettings changedSettings() {
    TerminalSettings s;
    s.Uart.BaudRate = 9600;
    s.AutoSendTransferText = 1;
    return s;
}

TEST_F(SettingsPlaceFiles, WritableExecutableFolderKeepsTheFileThereAndIsEntered) {
    saveAsUser(changedSettings());
    EXPECT_EQ(readAll(QDir(exeDir()).filePath(SettingsFile::FileName)),
              SettingsFile::SerializeSettings(changedSettings()));
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(exeDir()));
    EXPECT_FALSE(QFileInfo::exists(m_root.filePath("home/.config")));
    EXPECT_EQ(loadAsUser(), changedSettings());
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(exeDir()));
}

TEST_F(SettingsPlaceFiles, ReadOnlyExecutableFolderUsesTheUserFolderAndStaysPut) {
    ASSERT_TRUE(UnprivilegedFileAccess::Share(exeDir(), 0555));
    saveAsUser(changedSettings());
    // The folder is made on the first save and holds exactly the 24 bytes.
    EXPECT_EQ(readAll(QDir(userDir()).filePath(SettingsFile::FileName)),
              SettingsFile::SerializeSettings(changedSettings()));
    EXPECT_EQ(entries(userDir()), QStringList{SettingsFile::FileName});
    EXPECT_TRUE(entries(exeDir()).isEmpty());
    // A relative capture name would land where the program was started.
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(startDir()));
    EXPECT_EQ(loadAsUser(), changedSettings());
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(startDir()));
}

TEST_F(SettingsPlaceFiles, ReadOnlyFolderWithAWritableFileRewritesThatFile) {
    const QString file = QDir(exeDir()).filePath(SettingsFile::FileName);
    // An older 16-byte file, longer content afterwards: the rewrite must also cut nothing short.
    ASSERT_TRUE(writeAll(file, SettingsFile::SerializeSettings(TerminalSettings{}).left(16)));
    ASSERT_TRUE(UnprivilegedFileAccess::Share(file, 0666));
    ASSERT_TRUE(UnprivilegedFileAccess::Share(exeDir(), 0555));

    saveAsUser(changedSettings());
    EXPECT_EQ(readAll(file), SettingsFile::SerializeSettings(changedSettings()));
    // No temporary file could be or was left beside it, and the user folder stays unmade.
    EXPECT_EQ(entries(exeDir()), QStringList{SettingsFile::FileName});
    EXPECT_FALSE(QFileInfo::exists(m_root.filePath("home/.config")));
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(exeDir()));
    EXPECT_EQ(loadAsUser(), changedSettings());
}

TEST_F(SettingsPlaceFiles, ReadOnlyFolderWithAReadOnlyFileLeavesItAndUsesTheUserFolder) {
    const QString file = QDir(exeDir()).filePath(SettingsFile::FileName);
    const QByteArray shipped = SettingsFile::SerializeSettings(TerminalSettings{});
    ASSERT_TRUE(writeAll(file, shipped));
    ASSERT_TRUE(UnprivilegedFileAccess::Restrict(file, 0444));
    ASSERT_TRUE(UnprivilegedFileAccess::Share(exeDir(), 0555));

    saveAsUser(changedSettings());
    EXPECT_EQ(readAll(file), shipped);
    EXPECT_EQ(readAll(QDir(userDir()).filePath(SettingsFile::FileName)),
              SettingsFile::SerializeSettings(changedSettings()));
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(startDir()));
}

TEST_F(SettingsPlaceFiles, UserFolderThatCannotBeMadeStoresNothing) {
    ASSERT_TRUE(UnprivilegedFileAccess::Share(exeDir(), 0555));
    ASSERT_TRUE(UnprivilegedFileAccess::Restrict(m_root.filePath("home"), 0555));
    saveAsUser(changedSettings());
    EXPECT_TRUE(entries(m_root.filePath("home")).isEmpty());
    EXPECT_TRUE(entries(exeDir()).isEmpty());
    EXPECT_EQ(loadAsUser(), TerminalSettings{});
}

// The options file follows the same rule for itself: in a read-only folder where only the
// settings file may be rewritten, the options go to the user folder, unless a writable options
// file lies there too, which is then rewritten in place.
TEST_F(SettingsPlaceFiles, OptionsInAReadOnlyFolderFollowTheSameRule) {
    struct Case {
        const char* name;
        bool writableOptionsFile;
    };
    TerminalOptions changed;
    changed.ShowTimestamps = true;
    changed.SendLineEnding = LineEnding::Lf;
    for (const Case c : {Case{"only the settings file", false}, Case{"both files", true}}) {
        SCOPED_TRACE(c.name);
        UnprivilegedFileAccess::Restrict(exeDir(), 0755);
        QDir(m_root.filePath("home")).removeRecursively();
        ASSERT_TRUE(QDir(m_root.path()).mkdir("home"));
        ASSERT_TRUE(UnprivilegedFileAccess::Share(m_root.filePath("home"), 0755));
        const QString settings = QDir(exeDir()).filePath(SettingsFile::FileName);
        const QString options = QDir(exeDir()).filePath(OptionsFile::FileName);
        QFile::remove(options);
        ASSERT_TRUE(writeAll(settings, SettingsFile::SerializeSettings(TerminalSettings{})));
        ASSERT_TRUE(UnprivilegedFileAccess::Share(settings, 0666));
        if (c.writableOptionsFile) {
            ASSERT_TRUE(writeAll(options, "ShowTimestamps=0\n"));
            ASSERT_TRUE(UnprivilegedFileAccess::Share(options, 0666));
        }
        ASSERT_TRUE(UnprivilegedFileAccess::Share(exeDir(), 0555));

        const QString expectedFolder = c.writableOptionsFile ? exeDir() : userDir();
        {
            UnprivilegedFileAccess user;
            ASSERT_TRUE(user.active());
            EXPECT_TRUE(OptionsFile(SettingsFolder(exeDir(), userDir())).Save(changed));
            EXPECT_EQ(OptionsFile(SettingsFolder(exeDir(), userDir())).Load(), changed);
        }
        EXPECT_EQ(readAll(QDir(expectedFolder).filePath(OptionsFile::FileName)),
                  OptionsFile::Serialize(changed));
        EXPECT_EQ(QFileInfo::exists(userDir()), !c.writableOptionsFile);
        const QStringList expectedBeside =
            c.writableOptionsFile ? QStringList{SettingsFile::FileName, OptionsFile::FileName}
                                  : QStringList{SettingsFile::FileName};
        EXPECT_EQ(entries(exeDir()), expectedBeside);
    }
}

} // namespace
