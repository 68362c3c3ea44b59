#include "platform/MappedBlock.h"

#include <new>

#include <sys/mman.h>

MappedBlock::MappedBlock(size_t bytes)
{
    if (bytes == 0)
        return;
    void *data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED)
        throw std::bad_alloc();
    m_data = data;
    m_bytes = bytes;
}

MappedBlock::~MappedBlock()
{
    release();
}

void MappedBlock::release()
{
    if (m_data)
        ::munmap(m_data, m_bytes);
    m_data = nullptr;
    m_bytes = 0;
}
