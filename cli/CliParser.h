#pragma once

#include "cli/CliRequest.h"

#include <QString>
#include <QStringList>

// Reads wendrake's command line: the command, its options in short and long forms, the help
// and version texts, and a one-line message with status 2 for every mistake.
class CliParser {
public:
    struct Outcome {
        bool Run = false; // false: print Output or Error and end with ExitCode
        CliRequest Request;
        QString Output; // for standard output (help, version)
        QString Error;  // one line for standard error, without the newline
        int ExitCode = 0;
    };

    // arguments without the program name.
    static Outcome Parse(const QStringList& arguments);

    static QString VersionText();
    // The command's help; an empty command gives the program's.
    static QString HelpText(const QString& command = {});
    static QStringList Commands();
};
