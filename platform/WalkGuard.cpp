#include "platform/WalkGuard.h"

namespace {

size_t slotOf(const FileIdentity &identity, size_t mask)
{
    const quint64 mixed = (quint64(identity.inode) * 0x9E3779B97F4A7C15ULL) ^ quint64(identity.device);
    return size_t(mixed ^ (mixed >> 29)) & mask;
}

} // namespace

bool WalkGuard::enter(const FileIdentity &identity)
{
    if ((m_count + 1) * 2 > m_slots.size())
        grow();
    const size_t mask = m_slots.size() - 1;
    for (size_t at = slotOf(identity, mask);; at = (at + 1) & mask) {
        if (m_slots[at] == identity)
            return false;
        if (m_slots[at] == FileIdentity{}) {
            m_slots[at] = identity;
            ++m_count;
            return true;
        }
    }
}

void WalkGuard::clear()
{
    m_slots = {};
    m_count = 0;
}

void WalkGuard::grow()
{
    std::vector<FileIdentity> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 64 : old.size() * 2, FileIdentity{});
    const size_t mask = m_slots.size() - 1;
    for (const FileIdentity &identity : old) {
        if (identity == FileIdentity{})
            continue;
        size_t at = slotOf(identity, mask);
        while (!(m_slots[at] == FileIdentity{}))
            at = (at + 1) & mask;
        m_slots[at] = identity;
    }
}
