#include "terminal/HelpOpener.h"
#include "tests/support/RecordingPrompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct HelpCase {
    const char* name;
    bool compiledPresent;
    bool htmlPresent;
    std::vector<bool> openerAnswers; // one per call, in order
    std::vector<QString> opened;     // file names handed over ("chm" or "html")
    QString message;                 // empty: no message; the path is appended to it
    PromptIcon icon;
};

class HelpOpening : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpOpening, TriesTheFilesInOrderAndSaysWhereTheManualIs) {
    const HelpCase& c = GetParam();
    QTemporaryDir work;
    QTemporaryDir install;
    ASSERT_TRUE(work.isValid() && install.isValid());
    const QString bin = install.filePath("bin");
    const QString html = install.filePath("share/wendrake-terminal/help/index.html");
    ASSERT_TRUE(QDir().mkpath(bin));
    if (c.htmlPresent) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(html).path()));
        QFile f(html);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString chm = work.filePath("Wendrake Terminal Help.chm");
    if (c.compiledPresent) {
        QFile f(chm);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));

    RecordingPrompts prompts;
    std::vector<QString> opened;
    std::size_t call = 0;
    HelpOpener opener(
        prompts,
        [&](const QUrl& url) {
            opened.push_back(url.toLocalFile() == chm    ? QString("chm")
                             : url.toLocalFile() == html ? QString("html")
                                                         : url.toString());
            return call < c.openerAnswers.size() && c.openerAnswers[call++];
        },
        bin);
    EXPECT_EQ(opener.HtmlHelpFile(), html);
    opener.Open(nullptr);
    QDir::setCurrent(saved);

    EXPECT_EQ(opened, c.opened);
    if (c.message.isEmpty()) {
        EXPECT_TRUE(prompts.Prompts.empty());
    } else {
        ASSERT_EQ(prompts.Prompts.size(), 1u);
        EXPECT_EQ(prompts.Prompts[0].Text, c.message + html);
        EXPECT_EQ(prompts.Prompts[0].Caption, "Help");
        EXPECT_EQ(prompts.Prompts[0].Icon, c.icon);
    }
}

const QString NotFound = "The help file was not found. It belongs here:\n";
const QString NoProgram =
    "No program could be started to show the help. Open this file in a web browser:\n";

INSTANTIATE_TEST_SUITE_P(
    Files, HelpOpening,
    ::testing::Values(
        HelpCase{"CompiledFileFirst", true, true, {true}, {"chm"}, {}, PromptIcon::None},
        HelpCase{"ManualWithoutCompiledFile", false, true, {true}, {"html"}, {}, PromptIcon::None},
        HelpCase{"CompiledFileNobodyTakesFallsToManual",
                 true,
                 true,
                 {false, true},
                 {"chm", "html"},
                 {},
                 PromptIcon::None},
        HelpCase{"NothingOpensTheManual",
                 false,
                 true,
                 {false},
                 {"html"},
                 NoProgram,
                 PromptIcon::Information},
        HelpCase{"NoManualAtAll", false, false, {}, {}, NotFound, PromptIcon::Exclamation},
        HelpCase{"CompiledFileRefusedAndNoManual",
                 true,
                 false,
                 {false},
                 {"chm"},
                 NotFound,
                 PromptIcon::Exclamation}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
