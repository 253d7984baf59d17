#pragma once

#include "config/TerminalSettings.h"
#include "resources/TerminalMenuItems.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Where the settings file lives, and whether loading and saving make that folder the process's
// working directory.
struct SettingsPlace {
    QString Directory;
    bool EnterDirectory = true;

    bool operator==(const SettingsPlace&) const = default;
};

// "WendrakeTerminal.dat": 24 bytes, little-endian, in its own field order. A portable copy keeps
// it next to the executable and makes that folder the working directory at each load and save,
// so later bare names (help file, capture name) resolve there. An installed copy, whose folder
// the user cannot write, keeps it in the user's configuration folder and leaves the working
// directory alone.
class SettingsFile {
public:
    static constexpr const char* FileName = "WendrakeTerminal.dat";
    static constexpr const char* ConfigFolderName = "wendrake-terminal";
    static constexpr int FullSize = 24;

    // Sets the check mark of a send option's menu item.
    using MenuCheck = std::function<void(int itemId, bool checked)>;
    // Whether this user may write the path (a folder: create files in it).
    using WritableCheck = std::function<bool(const QString& path)>;

    // directory given: always that folder, entered at each load and save (a test's or a
    // caller's fixed place). Empty: the place rule on the executable's folder.
    explicit SettingsFile(QString directory = QString());
    // The place rule on these folders; empty ones take the real executable folder and the real
    // user configuration folder.
    SettingsFile(QString executableDirectory, QString userDirectory,
                 WritableCheck writable = IsWritable);

    // The folder of the place in use now; empty when none is known.
    QString Directory() const;
    SettingsPlace Place() const;

    // The executable's folder when this user may write it, or may write the settings file that
    // lies in it; otherwise the user folder, not entered.
    static SettingsPlace ChoosePlace(const QString& executableDirectory,
                                     const QString& userDirectory, const WritableCheck& writable);
    // $XDG_CONFIG_HOME/wendrake-terminal, or ~/.config/wendrake-terminal when that variable is
    // unset, empty or not an absolute path.
    static QString UserDirectory(const QString& xdgConfigHome, const QString& home);
    static QString UserDirectory();
    // With the effective ids, as open() will judge.
    static bool IsWritable(const QString& path);

    // Silent on every failure, as the record keeps what it holds.
    void LoadSettings(TerminalSettings& settings, const MenuCheck& setMenuCheck) const;
    // Writes all 24 bytes, unchecked. Where a temporary file can be made beside it, a failed save
    // never leaves a truncated file behind; where not (a writable file in a read-only folder),
    // the file itself is rewritten.
    void SaveSettings(const TerminalSettings& settings) const;

    // The field-by-field reader, with range checks and check marks; pure, for tests.
    static void SerializeSettings(TerminalSettings& settings, const QByteArray& bytes,
                                  const MenuCheck& setMenuCheck);
    // The 24 bytes a save writes.
    static QByteArray SerializeSettings(const TerminalSettings& settings);

private:
    SettingsPlace EnterSettingsPlace() const;
    static QString filePath(const SettingsPlace& place);

    QString m_pinned;
    QString m_executableDirectory;
    QString m_userDirectory;
    WritableCheck m_writable;
};
