#pragma once

#include "dialogs/UserPrompts.h"

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// Opens the help: a compiled help file in the working directory, as it always was, else the
// HTML manual installed with the program; when neither opens, says where the manual is.
class HelpOpener {
public:
    static constexpr const char* CompiledHelpName = "Wendrake Terminal Help.chm";
    // From the executable's folder; the same in the build tree and in an installation.
    static constexpr const char* HtmlHelpPath = "../share/wendrake-terminal/help/index.html";

    // Hands a file to the desktop's handler; true when one took it.
    using UrlOpener = std::function<bool(const QUrl&)>;

    // executableDirectory empty: the running executable's.
    explicit HelpOpener(UserPrompts& prompts, UrlOpener open = defaultOpener(),
                        QString executableDirectory = QString());

    // Where the HTML manual belongs, whether it is there or not.
    QString HtmlHelpFile() const;
    void Open(QWidget* owner);

    static UrlOpener defaultOpener();

private:
    UserPrompts& m_prompts;
    UrlOpener m_open;
    QString m_executableDirectory;
};
