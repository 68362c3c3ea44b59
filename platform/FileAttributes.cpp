#include "platform/FileAttributes.h"

#include "platform/WinTypes.h"

#include <sys/stat.h>

namespace FileAttributes {

bool isReadOnly(mode_t mode)
{
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool isHiddenName(std::string_view name)
{
    return name.starts_with('.') && name != "." && name != "..";
}

quint32 of(mode_t mode, std::string_view name)
{
    quint32 attributes = S_ISDIR(mode) ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_ARCHIVE;
    if (isReadOnly(mode))
        attributes |= win::FILE_ATTRIBUTE_READONLY;
    if (isHiddenName(name))
        attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

} // namespace FileAttributes
