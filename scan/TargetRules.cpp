#include "scan/TargetRules.h"
#include "platform/AsciiCase.h"

#include "platform/FolderSearch.h"
#include "platform/WinTypes.h"

namespace TargetRules {

QString drivePart(const QString &path)
{
    const QChar backslash = QLatin1Char('\\');
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
        return path.left(2);
    if (path.size() >= 2 && path.at(0) == backslash && path.at(1) == backslash) {
        // Two backslashes, the server name, a backslash, the share name: the
        // drive part ends before the second backslash after the leading pair.
        const qsizetype first = path.indexOf(backslash, 2);
        const qsizetype second = first < 0 ? -1 : path.indexOf(backslash, first + 1);
        if (second >= 0)
            return path.left(second);
        return path.endsWith(backslash) ? path.chopped(1) : path;
    }
    return {};
}

QString asciiLower(const QString &text)
{
    return AsciiCase::lower(text);
}

bool targetExists(const DriveContext &drives, const QString &winPath)
{
    // One attribute query answers both "a file exists" and "a folder exists"
    // (whether it may be written does not matter here).
    quint32 error = win::ERROR_SUCCESS;
    const quint32 attributes =
        getFileAttributes(drives, winPath, &error, FolderSearch::Attributes::WithoutReadOnly);
    if (attributes != win::INVALID_FILE_ATTRIBUTES)
        return true;
    if (error == win::ERROR_FILE_NOT_FOUND || error == win::ERROR_PATH_NOT_FOUND ||
        error == win::ERROR_INVALID_NAME)
        return false;
    // The attributes of an existing entry may be unreadable; a search of its
    // folder can still show it. Only a file counts here, not a folder.
    FolderSearch search(drives, winPath, FolderSearch::Attributes::WithoutReadOnly);
    FindData entry;
    return search.next(entry) && !(entry.attributes & win::FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace TargetRules
