#pragma once

// For the length of a scope, the calling thread meets file permissions as
// the unprivileged user "nobody" does, so tests of unreadable and
// unwritable files also bind when the tests run as root (as CI does).
//
// Linux checks file access against the thread's file-system user and group
// (setfsuid, setfsgid); moving them off 0 also drops the capabilities that
// override permissions, and moving them back restores them. Nothing else of
// the process changes: its effective user stays what it was. Files a test
// wants nobody to reach need an owner other than nobody and a mode that
// says so; the folders above them must let nobody through (see
// letEveryoneThrough).

#include <QByteArray>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

class UnprivilegedFiles
{
public:
    static constexpr uid_t kNobody = 65534;

    UnprivilegedFiles()
    {
        if (::geteuid() != 0)
            return;
        ::setfsgid(kNobody);
        ::setfsuid(kNobody);
        // setfsuid() reports the previous value; asking with an invalid id
        // changes nothing and tells the current one.
        m_active = ::setfsuid(uid_t(-1)) == int(kNobody);
    }
    ~UnprivilegedFiles()
    {
        if (m_active) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    UnprivilegedFiles(const UnprivilegedFiles &) = delete;
    UnprivilegedFiles &operator=(const UnprivilegedFiles &) = delete;

    // Whether permissions bind this thread now (always when not root).
    bool binding() const { return m_active || ::geteuid() != 0; }

    // Lets every user pass through (search) each folder from `folder` up to
    // the root, so nobody reaches the test's own files.
    static void letEveryoneThrough(QByteArray folder)
    {
        while (!folder.isEmpty() && folder != "/") {
            struct stat st;
            if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0111) != 0111)
                ::chmod(folder.constData(), (st.st_mode & 07777) | 0111);
            const qsizetype slash = folder.lastIndexOf('/');
            folder = slash <= 0 ? QByteArray() : folder.left(slash);
        }
    }

private:
    bool m_active = false;
};
