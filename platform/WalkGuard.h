#pragma once

#include "platform/FileIdentity.h"
#include "platform/MappedBlock.h"

#include <QtGlobal>

// The folders a walk has entered, by identity. A folder whose device and
// inode were entered before is not entered again, wherever the walk meets it
// (a symbolic link back to an ancestor, or many links to the same folder),
// so a walk ends on every tree and takes each folder once. The same set
// serves to take each file once.
class WalkGuard
{
public:
    // Notes a folder; false (and nothing changes) when it was noted before.
    bool enter(const FileIdentity &identity);
    // Forgets every folder and gives the memory back.
    void clear();
    qsizetype count() const { return qsizetype(m_count); }

private:
    FileIdentity *table() const { return static_cast<FileIdentity *>(m_slots.data()); }
    size_t capacity() const { return m_slots.bytes() / sizeof(FileIdentity); }
    void grow();

    // Open addressing; an all-zero slot is empty (no file has inode 0), so
    // freshly mapped memory is an empty table.
    MappedBlock m_slots;
    size_t m_count = 0;
};
