#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

// A capture or saved-data file: created or truncated, open for reading and writing and locked
// against other writers, every write handed to the system at once (no buffering in the program),
// so what was received is on disk even if the program is killed.
class ReceiveDataFile {
public:
    ReceiveDataFile() = default;
    ~ReceiveDataFile();

    ReceiveDataFile(const ReceiveDataFile&) = delete;
    ReceiveDataFile& operator=(const ReceiveDataFile&) = delete;

    // True when the path can be opened for reading (the capture's overwrite question).
    static bool existsForReading(const QString& path);

    bool open(const QString& path);
    bool isOpen() const { return m_fd >= 0; }
    // Writes all bytes or answers false (full disk, I/O error).
    bool write(const char* data, qint64 size);
    void close();

private:
    int m_fd = -1;
    std::string m_path; // for the failure log
};
