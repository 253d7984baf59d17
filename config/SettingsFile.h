#pragma once

#include "config/SettingsFolder.h"
#include "config/TerminalSettings.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// "WendrakeTerminal.dat": 24 bytes, little-endian, in its own field order. A portable copy keeps
// it next to the executable and makes that folder the working directory at each load and save,
// so later bare names (help file, capture name) resolve there. An installed copy, whose folder
// the user cannot write, keeps it in the user's configuration folder and leaves the working
// directory alone.
class SettingsFile {
public:
    static constexpr const char* FileName = "WendrakeTerminal.dat";
    static constexpr int FullSize = 24;

    // directory given: always that folder, entered at each load and save (a test's or a
    // caller's fixed place). Empty: the place rule on the executable's folder.
    explicit SettingsFile(QString directory = QString());
    // The place rule on these folders; empty ones take the real executable folder and the real
    // user configuration folder.
    SettingsFile(QString executableDirectory, QString userDirectory,
                 SettingsFolder::WritableCheck writable = SettingsFolder::IsWritable);
    explicit SettingsFile(SettingsFolder folder);

    // The folder of the place in use now; empty when none is known.
    QString Directory() const;
    SettingsPlace Place() const;

    // Silent on every failure, as the record keeps what it holds. Only a regular file is read.
    void LoadSettings(TerminalSettings& settings);
    // Writes all 24 bytes, unchecked, through SettingsFolder::WriteWholeFile. Only the fields
    // this record changed since this object last loaded or saved it are taken from the record;
    // the others keep what the file holds now, so two windows do not undo each other. Before
    // any load every field is written. False when nothing was stored.
    bool SaveSettings(const TerminalSettings& settings);

    // The field-by-field reader, with range checks; pure, for tests.
    static void SerializeSettings(TerminalSettings& settings, const QByteArray& bytes);
    // The 24 bytes a save writes.
    static QByteArray SerializeSettings(const TerminalSettings& settings);

private:
    // The bytes of a save: each field of mine that differs from known, the others from the
    // file when it holds the whole field, else from mine. All three in the file's layout.
    static QByteArray MergeSettings(const QByteArray& mine, const QByteArray& known,
                                    const QByteArray& onDisk);
    void EnterSettingsPlace(const SettingsPlace& place) const;

    SettingsFolder m_folder;
    // The record's bytes as this object last loaded or saved them.
    std::optional<QByteArray> m_known;
};
