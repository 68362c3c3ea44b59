#include "platform/WalkGuard.h"

bool WalkGuard::enter(const FileIdentity &folder)
{
    if (m_path.contains(folder))
        return false;
    m_path.append(folder);
    return true;
}

void WalkGuard::leave()
{
    if (!m_path.isEmpty())
        m_path.removeLast();
}
