#pragma once

#include "config/TerminalSettings.h"
#include "resources/TerminalMenuItems.h"

#include <QByteArray>
#include <QString>

#include <functional>

// "WendrakeTerminal.dat": 24 bytes, little-endian, in its own field order. Loading and saving
// first make the settings directory (the executable's, unless a test gives another) the
// process's working directory, so later bare names (help file, capture name) resolve there.
class SettingsFile {
public:
    static constexpr const char* FileName = "WendrakeTerminal.dat";
    static constexpr int FullSize = 24;

    // Sets the check mark of a send option's menu item.
    using MenuCheck = std::function<void(int itemId, bool checked)>;

    // directory empty: the running executable's directory.
    explicit SettingsFile(QString directory = QString());

    // The directory given, else the executable's; empty when neither is known.
    QString Directory() const;

    // Silent on every failure, as the record keeps what it holds.
    void LoadSettings(TerminalSettings& settings, const MenuCheck& setMenuCheck) const;
    // Writes all 24 bytes, unchecked; a failed save never leaves a truncated file behind.
    void SaveSettings(const TerminalSettings& settings) const;

    // The field-by-field reader, with range checks and check marks; pure, for tests.
    static void SerializeSettings(TerminalSettings& settings, const QByteArray& bytes,
                                  const MenuCheck& setMenuCheck);
    // The 24 bytes a save writes.
    static QByteArray SerializeSettings(const TerminalSettings& settings);

private:
    void EnterSettingsDirectory() const;
    QString filePath() const;

    QString m_directory;
};
