#pragma once

#include "platform/MappedBlock.h"

#include <QtGlobal>

#include <cstddef>

// Which chain of entries holds the names with a given 32-bit hash: open
// addressing with linear probing, one 8-byte slot per distinct hash. When it
// fills up it grows into a table twice the size a few dozen slots at a time,
// with every later change, looking in both tables meanwhile, so that no
// single change has to move the whole table.
class NameTable
{
public:
    static constexpr quint32 kNone = 0xFFFFFFFFu;

    // The first entry of the chain for `key`; kNone when there is none.
    quint32 head(quint32 key) const;
    // Makes `entry` the first of the chain for `key`; the entry that was
    // first before (kNone for a new key), which `entry` is to link to.
    quint32 push(quint32 key, quint32 entry);
    // Starts fetching the slot where a look for `key` begins, so that a
    // caller with many keys to push overlaps their cache misses.
    void prefetch(quint32 key) const
    {
        if (m_table.bits != 0)
            __builtin_prefetch(m_table.at(m_table.home(key)), 1);
    }
    size_t keys() const { return m_size; }
    size_t bytes() const { return m_table.memory.bytes() + m_old.memory.bytes(); }
    void clear();

private:
    struct Table
    {
        MappedBlock memory; // quint64: key << 32 | (entry + 1); 0 is empty
        unsigned bits = 0;
        quint64 *at(size_t slot) const { return static_cast<quint64 *>(memory.data()) + slot; }
        size_t capacity() const { return bits ? size_t(1) << bits : 0; }
        size_t home(quint32 key) const { return size_t(quint32(key * 0x9E3779B1u) >> (32 - bits)); }
        // The slot holding `key`, or the empty one where it would go.
        quint64 *find(quint32 key) const;
    };

    void migrate(size_t slots);

    Table m_table;
    Table m_old; // while growing: the slots not moved yet
    size_t m_moved = 0;
    size_t m_size = 0;
};
