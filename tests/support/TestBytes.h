#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Bytes as the tests write them: from a string with zero bytes kept, a pattern that tells a
// lost or reordered chunk from a good one, a file in a test's folder, the adapter's UART output.

inline QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

inline QByteArray pattern(int count) {
    QByteArray data(count, '\0');
    for (int i = 0; i < count; ++i)
        data[i] = static_cast<char>(i * 11 + 3);
    return data;
}

inline QByteArray bytes(const std::vector<std::uint8_t>& out) {
    return QByteArray(reinterpret_cast<const char*>(out.data()),
                      static_cast<qsizetype>(out.size()));
}

// Writes name in dir and returns its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
