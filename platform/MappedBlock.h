#pragma once

#include <QtGlobal>

#include <utility>

// A block of zeroed memory mapped from the system on its own and unmapped
// on destruction. What a scan builds and drops (an index of a drive, the
// folders it walked) goes back to the system whole this way, however often
// a scan runs, where the allocator would keep some of it.
class MappedBlock
{
public:
    MappedBlock() = default;
    explicit MappedBlock(size_t bytes);
    ~MappedBlock();
    MappedBlock(MappedBlock &&other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0))
    {}
    MappedBlock &operator=(MappedBlock &&other) noexcept
    {
        if (this != &other) {
            release();
            m_data = std::exchange(other.m_data, nullptr);
            m_bytes = std::exchange(other.m_bytes, 0);
        }
        return *this;
    }
    MappedBlock(const MappedBlock &) = delete;
    MappedBlock &operator=(const MappedBlock &) = delete;

    void *data() const { return m_data; }
    size_t bytes() const { return m_bytes; }

private:
    void release();
    void *m_data = nullptr;
    size_t m_bytes = 0;
};
