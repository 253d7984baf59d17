#include "terminal/HelpOpener.h"

#include "common/LogCategories.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <utility>

HelpOpener::HelpOpener(UserPrompts& prompts, UrlOpener open, QString executableDirectory)
    : m_prompts(prompts), m_open(std::move(open)),
      m_executableDirectory(std::move(executableDirectory)) {}

HelpOpener::UrlOpener HelpOpener::defaultOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

QString HelpOpener::HtmlHelpFile() const {
    const QString base = m_executableDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                         : m_executableDirectory;
    return QDir::cleanPath(QDir(base).filePath(QString::fromLatin1(HtmlHelpPath)));
}

void HelpOpener::Open(QWidget* owner) {
    // A bare name: it follows the working directory, as the settings left it.
    const QString compiled =
        QDir::current().absoluteFilePath(QString::fromLatin1(CompiledHelpName));
    if (QFileInfo(compiled).isFile() && m_open(QUrl::fromLocalFile(compiled)))
        return;

    const QString html = HtmlHelpFile();
    if (!QFileInfo(html).isFile()) {
        logFailure(lcFile(), "open", html, QStringLiteral("no such file"));
        m_prompts.Message(owner,
                          QStringLiteral("The help file was not found. It belongs here:\n") + html,
                          QStringLiteral("Help"), PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    if (m_open(QUrl::fromLocalFile(html)))
        return;
    logFailure(lcFile(), "open", html, QStringLiteral("no program takes HTML files"));
    m_prompts.Message(owner,
                      QStringLiteral("No program could be started to show the help. Open this "
                                     "file in a web browser:\n") +
                          html,
                      QStringLiteral("Help"), PromptIcon::Information, PromptButtons::Ok);
}
