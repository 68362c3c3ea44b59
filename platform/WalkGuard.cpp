#include "platform/WalkGuard.h"

namespace {

size_t slotOf(const FileIdentity &identity, size_t mask)
{
    const quint64 mixed = (quint64(identity.inode) * 0x9E3779B97F4A7C15ULL) ^ quint64(identity.device);
    return size_t(mixed ^ (mixed >> 29)) & mask;
}

bool isEmpty(const FileIdentity &slot)
{
    return slot.device == 0 && slot.inode == 0;
}

} // namespace

bool WalkGuard::enter(const FileIdentity &identity)
{
    if ((m_count + 1) * 2 > capacity())
        grow();
    const size_t mask = capacity() - 1;
    FileIdentity *slot = table();
    for (size_t at = slotOf(identity, mask);; at = (at + 1) & mask) {
        if (slot[at] == identity)
            return false;
        if (isEmpty(slot[at])) {
            slot[at] = identity;
            ++m_count;
            return true;
        }
    }
}

void WalkGuard::clear()
{
    m_slots = MappedBlock();
    m_count = 0;
}

void WalkGuard::grow()
{
    const MappedBlock old = std::move(m_slots);
    const size_t oldCapacity = old.bytes() / sizeof(FileIdentity);
    m_slots = MappedBlock((oldCapacity == 0 ? 256 : oldCapacity * 2) * sizeof(FileIdentity));
    const size_t mask = capacity() - 1;
    FileIdentity *slot = table();
    const auto *previous = static_cast<const FileIdentity *>(old.data());
    for (size_t i = 0; i < oldCapacity; ++i) {
        if (isEmpty(previous[i]))
            continue;
        size_t at = slotOf(previous[i], mask);
        while (!isEmpty(slot[at]))
            at = (at + 1) & mask;
        slot[at] = previous[i];
    }
}
