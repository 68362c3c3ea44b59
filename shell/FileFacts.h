#pragma once

// What the resolver needs to know about a file or folder of this machine,
// read with one statx() call, in the units a shell link records (FILETIME,
// FILE_ATTRIBUTE_* bits).

#include <QByteArray>

#include <optional>

#include <sys/types.h>

struct FileFacts
{
    bool isDirectory = false;
    bool isRegular = false;
    quint64 size = 0;
    quint64 creationTime = 0; // FILETIME; 0 when the file system keeps no birth time
    quint64 accessTime = 0;
    quint64 writeTime = 0;
    quint32 attributes = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// Outcome of looking at a path.
enum class FactsStatus {
    Found,
    Missing,    // ENOENT or ENOTDIR: nothing is there
    Unreadable, // anything else (access denied, loop, I/O error): cannot say
    TooLong,    // the path is longer than the system takes: it cannot be looked at
};

// Facts about what a POSIX path names, following symbolic links. The path's
// final component, as written, decides HIDDEN.
FactsStatus readFacts(const QByteArray &posixPath, FileFacts &facts);
