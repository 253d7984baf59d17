#pragma once

#include "config/TerminalOptions.h"

#include <QByteArray>
#include <QString>

// "WendrakeTerminal.options" beside the settings file: one "Name=value" line per option, so the
// 24-byte settings file keeps its layout. Unknown lines and bad values are skipped, and an
// option missing from the file keeps its default.
class OptionsFile {
public:
    static constexpr const char* FileName = "WendrakeTerminal.options";

    // directory: the settings file's folder.
    static TerminalOptions Load(const QString& directory);
    // False when the file could not be written; the old one is then left as it was.
    static bool Save(const QString& directory, const TerminalOptions& options);

    static TerminalOptions Parse(const QByteArray& text);
    static QByteArray Serialize(const TerminalOptions& options);
};
