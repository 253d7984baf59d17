#include "config/SettingsFolder.h"

#include "common/FileAccess.h"
#include "common/LogCategories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

SettingsFolder::SettingsFolder(QString directory)
    : m_pinned(std::move(directory)), m_writable(IsWritable) {}

SettingsFolder::SettingsFolder(QString executableDirectory, QString userDirectory,
                               WritableCheck writable)
    : m_executableDirectory(std::move(executableDirectory)),
      m_userDirectory(std::move(userDirectory)), m_writable(std::move(writable)) {}

SettingsFolder SettingsFolder::ForProgram(QString userFolderName) {
    SettingsFolder folder;
    folder.m_userFolderName = std::move(userFolderName);
    return folder;
}

bool SettingsFolder::IsWritable(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // AT_EACCESS: judged with the ids that open() uses, not the real ones.
    return ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) == 0;
}

QString SettingsFolder::UserDirectory(const QString& xdgConfigHome, const QString& home,
                                      const QString& folderName) {
    // Relative values are to be ignored: they would follow the working directory around.
    const QString base = !xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome)
                             ? xdgConfigHome
                             : QDir(home).filePath(QStringLiteral(".config"));
    return QDir::cleanPath(QDir(base).filePath(folderName));
}

QString SettingsFolder::UserDirectory(const QString& folderName) {
    return UserDirectory(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath(), folderName);
}

SettingsPlace SettingsFolder::ChoosePlace(const QString& executableDirectory,
                                          const QString& userDirectory, const QString& fileName,
                                          const WritableCheck& writable) {
    if (executableDirectory.isEmpty())
        return {userDirectory, false};
    const QString besideExecutable = QDir(executableDirectory).filePath(fileName);
    // A file someone left writable in a read-only folder still counts as portable.
    if (writable(executableDirectory) ||
        (QFileInfo(besideExecutable).isFile() && writable(besideExecutable)))
        return {executableDirectory, true};
    return {userDirectory, false};
}

SettingsPlace SettingsFolder::Place(const QString& fileName) const {
    if (!m_pinned.isEmpty())
        return {m_pinned, true};
    QString executable = m_executableDirectory;
    // Without an application object there is no executable path: stay where we are.
    if (executable.isEmpty() && QCoreApplication::instance())
        executable = QCoreApplication::applicationDirPath();
    if (executable.isEmpty())
        return {QString(), true};
    const QString user =
        m_userDirectory.isEmpty() ? UserDirectory(m_userFolderName) : m_userDirectory;
    return ChoosePlace(executable, user, fileName, m_writable);
}

QString SettingsFolder::FilePath(const SettingsPlace& place, const QString& fileName) {
    if (place.Directory.isEmpty())
        return fileName;
    return QDir(place.Directory).filePath(fileName);
}

bool SettingsFolder::MakeFolder(const SettingsPlace& place) {
    if (place.Directory.isEmpty() || QDir().mkpath(place.Directory))
        return true;
    logFailure(lcFile(), "mkdir", place.Directory, QStringLiteral("could not be created"));
    return false;
}

std::optional<QByteArray> SettingsFolder::ReadRegularFile(const QString& path, qint64 maxSize) {
    bool notRegular = false;
    const int fd = FileAccess::openRegular(QFile::encodeName(path).constData(), notRegular);
    if (fd < 0) {
        const int error = errno;
        // No file yet is the normal first start; anything else is worth a line.
        if (notRegular)
            logFailure(lcFile(), "open", path, QStringLiteral("not a regular file"));
        else if (error != ENOENT)
            logFailure(lcFile(), "open", path, errnoText(error));
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        FileAccess::close(fd);
        logFailure(lcFile(), "open", path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.read(maxSize);
    if (file.error() != QFileDevice::NoError) {
        logFailure(lcFile(), "read", path, file.errorString());
        // A read error takes nothing, like an empty file.
        return QByteArray();
    }
    return bytes;
}

bool SettingsFolder::WriteWholeFile(const QString& path, const QByteArray& bytes) {
    // Writing through a named pipe would wait for a reader, or feed whoever reads it.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        logFailure(lcFile(), "write", path, QStringLiteral("not a regular file"));
        return false;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        logFailure(lcFile(), "open", path, file.errorString());
        return false;
    }
    // commit() alone misses an error that only shows when its buffer is flushed: on a full disk
    // it would rename an empty file over the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        logFailure(lcFile(), "write", path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        logFailure(lcFile(), "commit", path, file.errorString());
        return false;
    }
    return true;
}
