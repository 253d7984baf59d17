#pragma once

#include "config/SettingsFolder.h"
#include "config/TerminalOptions.h"

#include <QByteArray>
#include <QString>

#include <optional>

// "WendrakeTerminal.options" in the settings folder: one "Name=value" line per option, so the
// 24-byte settings file keeps its layout. Unknown lines and bad values are skipped, and an
// option missing from the file keeps its default. Its place follows the settings file's rule,
// judged for this file, and it is written the same guarded way.
class OptionsFile {
public:
    static constexpr const char* FileName = "WendrakeTerminal.options";

    explicit OptionsFile(SettingsFolder folder = {});

    // The defaults when there is no regular file to read.
    TerminalOptions Load();
    // Only the options changed since this object last loaded or saved them are taken from
    // options; the others keep what the file holds now, so two windows do not undo each other.
    // Before any load every option is written. False when the file could not be written; the
    // old one is then left as it was.
    bool Save(const TerminalOptions& options);

    // Exactly this folder, every option written; an empty folder name stores nothing.
    static TerminalOptions Load(const QString& directory);
    static bool Save(const QString& directory, const TerminalOptions& options);

    static TerminalOptions Parse(const QByteArray& text);
    // The lines of text over start: an option the text does not set keeps its value there.
    static TerminalOptions Parse(const QByteArray& text, TerminalOptions start);
    static QByteArray Serialize(const TerminalOptions& options);

private:
    // Each option of mine that differs from known, the others from onDisk.
    static TerminalOptions Merge(const TerminalOptions& mine, const TerminalOptions& known,
                                 const TerminalOptions& onDisk);

    SettingsFolder m_folder;
    // The options as this object last loaded or saved them.
    std::optional<TerminalOptions> m_known;
};
