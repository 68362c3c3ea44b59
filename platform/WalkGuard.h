#pragma once

#include "platform/FileIdentity.h"

#include <QList>

// The folders on the current path of a walk, by identity. A folder whose
// device and inode already stand on the path is not entered again, so a
// walk ends on symbolic-link loops however long paths may grow.
class WalkGuard
{
public:
    // Enters a folder; false (and nothing changes) when it is already on the
    // current path.
    bool enter(const FileIdentity &folder);
    void leave();
    int depth() const { return int(m_path.size()); }

    // Leaves on destruction what enter() entered.
    class Scope
    {
    public:
        Scope(WalkGuard &guard, const FileIdentity &folder) : m_guard(guard), m_entered(guard.enter(folder))
        {}
        ~Scope()
        {
            if (m_entered)
                m_guard.leave();
        }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
        bool entered() const { return m_entered; }

    private:
        WalkGuard &m_guard;
        bool m_entered;
    };

private:
    QList<FileIdentity> m_path;
};
