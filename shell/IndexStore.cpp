#include "shell/IndexStore.h"

quint32 NameBytes::append(const char *data, size_t size)
{
    constexpr size_t kChunk = size_t(1) << kChunkBits;
    Q_ASSERT(size <= kChunk);
    if (m_chunks.empty() || m_used + size > kChunk) {
        m_chunks.emplace_back(kChunk);
        m_used = 0;
    }
    const size_t offset = ((m_chunks.size() - 1) << kChunkBits) | m_used;
    std::memcpy(static_cast<char *>(m_chunks.back().data()) + m_used, data, size);
    m_used += size;
    return quint32(offset);
}
