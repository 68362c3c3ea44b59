#include "platform/FileIdentity.h"

#include <sys/stat.h>

std::optional<FileIdentity> identityOf(const QByteArray &posixPath)
{
    struct stat st;
    if (posixPath.isEmpty() || ::stat(posixPath.constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}
