#pragma once

// The Windows attribute bits of a file of this machine, by one rule wherever
// the program shows or records them.

#include <QtGlobal>

#include <string_view>

#include <sys/types.h>

namespace FileAttributes {

// READONLY: the file has no write permission bit for anyone (owner, group or
// others). Like the Windows bit, it belongs to the file and reads the same
// for every user, root included; whether this user may write the file (its
// owner, a read-only mount) is asked where a file is to be written.
bool isReadOnly(mode_t mode);

// HIDDEN: the name begins with a dot ("." and ".." excepted).
bool isHiddenName(std::string_view name);

// DIRECTORY for a folder, ARCHIVE for anything else (as Windows marks plain
// files), READONLY and HIDDEN as above. What a caller learns elsewhere
// (SYSTEM, REPARSE_POINT) it adds itself.
quint32 of(mode_t mode, std::string_view name);

} // namespace FileAttributes
