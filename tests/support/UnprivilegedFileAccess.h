#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

// File access of this thread as an ordinary user. Root opens and writes everything, so as root
// the file-system ids become nobody's, which also drops root's file capabilities until they come
// back; as any other user nothing changes. Files keep their owners: make what the test user must
// reach open to it (Share), and what it must not reach root's own with tight modes.
class UnprivilegedFileAccess {
public:
    static constexpr uid_t NobodyUid = 65534;
    static constexpr gid_t NobodyGid = 65534;

    UnprivilegedFileAccess() {
        if (::geteuid() != 0) {
            m_active = true;
            return;
        }
        ::setfsgid(NobodyGid);
        ::setfsuid(NobodyUid);
        // setfsuid answers the previous id; asking again with an invalid id reads the current one.
        m_changed = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == NobodyUid;
        m_active = m_changed;
    }
    ~UnprivilegedFileAccess() {
        if (m_changed) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    UnprivilegedFileAccess(const UnprivilegedFileAccess&) = delete;
    UnprivilegedFileAccess& operator=(const UnprivilegedFileAccess&) = delete;

    // False when the ids could not be changed: the test cannot mean anything then.
    bool active() const { return m_active; }

    // Gives the test user the path (for root: by ownership) with these permission bits.
    static bool Share(const QString& path, mode_t mode) {
        const QByteArray native = QFile::encodeName(path);
        if (::geteuid() == 0 && ::chown(native.constData(), NobodyUid, NobodyGid) != 0)
            return false;
        return ::chmod(native.constData(), mode) == 0;
    }
    // Root's own path with these bits (as another user: just the bits).
    static bool Restrict(const QString& path, mode_t mode) {
        return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
    }

private:
    bool m_active = false;
    bool m_changed = false;
};
