#pragma once

#include <QByteArray>

#include <optional>

#include <sys/types.h>

// Device and inode: what makes two paths the same folder.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

// Identity of what a POSIX path names, following symbolic links.
std::optional<FileIdentity> identityOf(const QByteArray &posixPath);
