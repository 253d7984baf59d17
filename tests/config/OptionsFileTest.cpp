#include "config/OptionsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

// The options file: its exact text, what a damaged or foreign file leaves, and where it goes.

TEST(OptionsFileTest, TextOfTheDefaultsAndReadingItBack) {
    EXPECT_EQ(OptionsFile::Serialize(TerminalOptions{}),
              "FollowNewData=1\nHoldWhileReading=0\nShowTimestamps=0\nHexDumpLayout=0\n"
              "LineEnding=None\nAutoReconnect=0\n");
    TerminalOptions changed;
    changed.FollowNewData = false;
    changed.HoldWhileReading = true;
    changed.SendLineEnding = LineEnding::CrLf;
    changed.AutoReconnect = true;
    EXPECT_EQ(OptionsFile::Parse(OptionsFile::Serialize(changed)), changed);
}

TEST(OptionsFileTest, BadLinesKeepTheDefaults) {
    struct Case {
        const char* name;
        QByteArray text;
        TerminalOptions expected;
    };
    TerminalOptions timestamps;
    timestamps.ShowTimestamps = true;
    TerminalOptions cr;
    cr.SendLineEnding = LineEnding::Cr;
    const Case cases[] = {
        {"empty file", "", {}},
        {"binary junk", QByteArray("\x00\xff=\x01", 4), {}},
        {"a bad flag", "ShowTimestamps=yes\nFollowNewData=2\n", {}},
        {"an unknown line among good ones", "# note\nColour=red\nShowTimestamps=1\n", timestamps},
        {"CR LF line ends and blanks", "  LineEnding = CR \r\n", cr},
        {"an unknown line ending", "LineEnding=CRCR\n", {}},
        {"no equals sign", "ShowTimestamps\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OptionsFile::Parse(c.text), c.expected);
    }
}

TEST(OptionsFileTest, SavedBesideTheSettingsAndLoaded) {
    QTemporaryDir dir;
    const QString folder = QDir(dir.path()).filePath("not/yet/there");
    EXPECT_EQ(OptionsFile::Load(folder), TerminalOptions{}) << "a missing file: the defaults";
    TerminalOptions options;
    options.HexDumpLayout = true;
    ASSERT_TRUE(OptionsFile::Save(folder, options)) << "the folder is made";
    EXPECT_EQ(OptionsFile::Load(folder), options);
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("WendrakeTerminal.options")));
    EXPECT_FALSE(OptionsFile::Save(QString(), options));
    EXPECT_FALSE(OptionsFile::Save("/proc/no-such-place", options));
}

// Two windows on one file: each save takes only the options its window changed since it last
// loaded or saved; the others keep what the file holds.
TEST(OptionsFileTest, TwoWindowsKeepEachOthersChanges) {
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("WendrakeTerminal.options");
    {
        QFile start(path);
        ASSERT_TRUE(start.open(QIODevice::WriteOnly));
        start.write("ShowTimestamps=1\n");
    }
    OptionsFile fileA(SettingsFolder(dir.path()));
    OptionsFile fileB(SettingsFolder(dir.path()));
    TerminalOptions a = fileA.Load();
    TerminalOptions b = fileB.Load();

    struct Step {
        const char* name;
        bool byA;
        std::function<void(TerminalOptions&)> change;
        QByteArray expected;
    };
    const Step steps[] = {
        {"A: line ending CR LF", true,
         [](TerminalOptions& o) { o.SendLineEnding = LineEnding::CrLf; },
         "FollowNewData=1\nHoldWhileReading=0\nShowTimestamps=1\nHexDumpLayout=0\n"
         "LineEnding=CRLF\nAutoReconnect=0\n"},
        {"B: reconnect, timestamps off", false,
         [](TerminalOptions& o) {
             o.AutoReconnect = true;
             o.ShowTimestamps = false;
         },
         "FollowNewData=1\nHoldWhileReading=0\nShowTimestamps=0\nHexDumpLayout=0\n"
         "LineEnding=CRLF\nAutoReconnect=1\n"},
        {"A: no following", true, [](TerminalOptions& o) { o.FollowNewData = false; },
         "FollowNewData=0\nHoldWhileReading=0\nShowTimestamps=0\nHexDumpLayout=0\n"
         "LineEnding=CRLF\nAutoReconnect=1\n"},
        {"B: hex dump, hold", false,
         [](TerminalOptions& o) {
             o.HexDumpLayout = true;
             o.HoldWhileReading = true;
         },
         "FollowNewData=0\nHoldWhileReading=1\nShowTimestamps=0\nHexDumpLayout=1\n"
         "LineEnding=CRLF\nAutoReconnect=1\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        TerminalOptions& options = step.byA ? a : b;
        step.change(options);
        EXPECT_TRUE((step.byA ? fileA : fileB).Save(options));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), step.expected);
    }
}
