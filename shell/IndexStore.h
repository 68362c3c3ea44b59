#pragma once

// The storage behind the folder index of a drive: arrays that grow a chunk at
// a time (never copied, never moved, so growing one never stops the program
// for long), a block of names, and a table from name hashes to chains of
// entries that grows a few slots at a time. Every chunk is mapped from the
// system on its own and given back whole when it is freed, so memory goes
// back when the index is cleared, however often a scan runs.

#include "platform/MappedBlock.h"

#include <QtGlobal>

#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

// An array of plain values in chunks of 2^ChunkBits elements, indexed by 32
// bits. Elements stay where they are as the array grows.
template <typename T, unsigned ChunkBits> class ChunkedArray
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr quint32 kChunkSize = quint32(1) << ChunkBits;

    T &operator[](quint32 index) { return chunk(index >> ChunkBits)[index & (kChunkSize - 1)]; }
    const T &operator[](quint32 index) const { return chunk(index >> ChunkBits)[index & (kChunkSize - 1)]; }
    quint32 size() const { return m_size; }

    quint32 push_back(const T &value)
    {
        if ((m_size >> ChunkBits) == m_chunks.size())
            m_chunks.emplace_back(size_t(kChunkSize) * sizeof(T));
        const quint32 index = m_size++;
        (*this)[index] = value;
        return index;
    }
    size_t bytes() const { return m_chunks.size() * size_t(kChunkSize) * sizeof(T); }
    void clear()
    {
        std::vector<MappedBlock>().swap(m_chunks);
        m_size = 0;
    }

private:
    T *chunk(size_t at) const { return static_cast<T *>(m_chunks[at].data()); }

    std::vector<MappedBlock> m_chunks;
    quint32 m_size = 0;
};

// Byte strings in 1 MB chunks; a string never spans two chunks, so each is
// one contiguous run named by a 32-bit offset.
class NameBytes
{
public:
    static constexpr unsigned kChunkBits = 20;

    // Copies `size` bytes (at most a chunk) and gives their offset.
    quint32 append(const char *data, size_t size);
    const char *at(quint32 offset) const
    {
        return static_cast<const char *>(m_chunks[offset >> kChunkBits].data()) +
               (offset & ((1u << kChunkBits) - 1));
    }
    size_t bytes() const { return m_chunks.size() << kChunkBits; }
    void clear()
    {
        std::vector<MappedBlock>().swap(m_chunks);
        m_used = 0;
    }

private:
    std::vector<MappedBlock> m_chunks;
    size_t m_used = 0; // in the last chunk
};

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
