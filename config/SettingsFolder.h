#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Where one file of the settings folder lives, and whether loading and saving the settings make
// that folder the process's working directory.
struct SettingsPlace {
    QString Directory;
    bool EnterDirectory = true;

    bool operator==(const SettingsPlace&) const = default;
};

// The folder of one program's settings and options files, and how they are read and written
// whole. A portable copy keeps them next to the executable; an installed copy, whose folder the
// user cannot write, in the user's configuration folder named after the program, so the demo
// never shares the real terminal's files.
class SettingsFolder {
public:
    static constexpr const char* TerminalFolderName = "wendrake-terminal";
    static constexpr const char* DemoFolderName = "wendrake-terminal-demo";

    // Whether this user may write the path (a folder: create files in it).
    using WritableCheck = std::function<bool(const QString& path)>;

    // directory given: always that folder, entered at each load and save (a test's or a
    // caller's fixed place). Empty: the place rule on the real folders of the terminal.
    SettingsFolder(QString directory = QString());
    // The place rule on these folders; empty ones take the real executable folder and the real
    // user configuration folder.
    SettingsFolder(QString executableDirectory, QString userDirectory,
                   WritableCheck writable = IsWritable);
    // The place rule with the user configuration folder of this name.
    static SettingsFolder ForProgram(QString userFolderName);

    // Judged at every use: files and folders may change their access while the program runs.
    SettingsPlace Place(const QString& fileName) const;

    // The executable's folder when this user may write it, or may write the file of this name
    // that lies in it; otherwise the user folder, not entered.
    static SettingsPlace ChoosePlace(const QString& executableDirectory,
                                     const QString& userDirectory, const QString& fileName,
                                     const WritableCheck& writable);
    // $XDG_CONFIG_HOME/<name>, or ~/.config/<name> when that variable is unset, empty or not an
    // absolute path.
    static QString UserDirectory(const QString& xdgConfigHome, const QString& home,
                                 const QString& folderName = TerminalFolderName);
    static QString UserDirectory(const QString& folderName = TerminalFolderName);
    // With the effective ids, as open() will judge.
    static bool IsWritable(const QString& path);

    static QString FilePath(const SettingsPlace& place, const QString& fileName);
    // Makes the place's folder when it is missing, also when it vanished while the program ran.
    // False, logged, when it cannot be made.
    static bool MakeFolder(const SettingsPlace& place);

    // Up to maxSize bytes of a regular file. Anything else by that name (a named pipe, a
    // device, a folder) is never waited on or read and counts, like a missing file, as absent;
    // every failure but a missing file is logged.
    static std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxSize);
    // Replaces the file's contents whole: written beside it and renamed over it, so a failed
    // write (a full disk) keeps the old file; a folder that takes no new file gets the existing
    // file rewritten in place. A path that is there but no regular file is left alone. False,
    // logged, when the bytes were not stored.
    static bool WriteWholeFile(const QString& path, const QByteArray& bytes);

private:
    QString m_pinned;
    QString m_executableDirectory;
    QString m_userDirectory;
    QString m_userFolderName = TerminalFolderName;
    WritableCheck m_writable;
};
