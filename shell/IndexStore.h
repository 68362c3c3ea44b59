#pragma once

// The storage behind the folder index of a drive: arrays that grow a chunk at
// a time (never copied, never moved, so growing one never stops the program
// for long) and a block of names (the table from name hashes to chains of
// entries is NameTable). Every chunk is mapped from the system on its own and
// given back whole when it is freed, so memory goes back when the index is
// cleared, however often a scan runs.

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
