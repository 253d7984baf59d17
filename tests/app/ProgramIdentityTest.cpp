#include "app/ProgramIdentity.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMap>

#include <gtest/gtest.h>

#include <ostream>

namespace {

// The keys of the [Desktop Entry] group of a desktop file.
QMap<QString, QString> desktopEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.contains(QLatin1Char('=')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

struct IdentityCase {
    const char* name;
    ProgramIdentity identity;
    QString menuName;
};

// Its name, in test listings and failures.
void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramIdentityEntry : public ::testing::TestWithParam<IdentityCase> {};

// The running program names the menu entry that is installed for it, and its window class is
// the one that entry expects; the entry starts that same program.
TEST_P(ProgramIdentityEntry, MenuEntryAndRunningProgramAgree) {
    const IdentityCase& c = GetParam();
    const QString oldName = QCoreApplication::applicationName();
    const QString oldDesktopName = QGuiApplication::desktopFileName();
    c.identity.Apply();
    const QString appliedName = QCoreApplication::applicationName();
    const QString appliedDesktopName = QGuiApplication::desktopFileName();
    QCoreApplication::setApplicationName(oldName);
    QGuiApplication::setDesktopFileName(oldDesktopName);

    const QMap<QString, QString> entry =
        desktopEntry(QStringLiteral(WT_SOURCE_DIR "/packaging/") + appliedDesktopName +
                     QStringLiteral(".desktop"));
    ASSERT_FALSE(entry.isEmpty()) << appliedDesktopName.toStdString();
    EXPECT_EQ(entry.value("Name"), c.menuName);
    EXPECT_EQ(entry.value("StartupWMClass"), appliedName);
    EXPECT_EQ(entry.value("Exec").section(QLatin1Char(' '), 0, 0), appliedName);
    EXPECT_EQ(appliedName, c.identity.ProgramName);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramIdentityEntry,
                         ::testing::Values(IdentityCase{"Terminal", ProgramIdentity::Terminal(),
                                                        "Wendrake Terminal"},
                                           IdentityCase{"Demo", ProgramIdentity::Demo(),
                                                        "Wendrake Terminal (demo adapter)"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
