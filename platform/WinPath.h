#pragma once

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"

#include <QByteArray>
#include <QString>

#include <optional>

class MountTable;

// Translation between the program's Windows-form paths ("c:\Users\x.lnk")
// and POSIX paths of this machine.
namespace WinPath {

// The POSIX path that a Windows-form path names, taken apart and compared
// by WinPathText's rules. The drive part picks the folder from the map;
// every further name is looked up exactly as written first and, when that
// fails, as Windows uses it (trailing dots and spaces dropped: "setup.exe."
// finds "setup.exe"), then either without regard to case (simple case
// folding), one name at a time. Names that do not exist are kept as Windows
// uses them, so the result may name a missing file. "." and ".." are
// applied textually and never climb above the drive's folder or the share.
// "\\?\C:\x" is "C:\x" and "\\?\UNC\server\share\x" is "\\server\share\x".
// Nothing for a letter the map lacks, a relative or drive-relative path
// ("c:x"), a device path ("\\.\x"), or a name that cannot be shown in
// Windows form (see isRepresentable). A UNC path (\\server\share\...) names
// the same place in a mounted network share whose source is //server/share
// (any case) and whose mount point lies in a drive of the map; nothing
// otherwise. With `error`, tells why nothing was found:
// ERROR_PATH_NOT_FOUND for a letter the map lacks, an unknown share or a
// relative path; ERROR_INVALID_NAME for a malformed path or name.
// ERROR_SUCCESS with a result.
std::optional<QByteArray> toPosix(const QString &winPath, const DriveMap &map, const MountTable &mounts,
                                  quint32 *error = nullptr);
// The same with the context's current map and mount table (the table is
// asked for only for a UNC path).
std::optional<QByteArray> toPosix(const QString &winPath, const DriveContext &drives,
                                  quint32 *error = nullptr);

// What toPosix gives for a path whose every component exists as written,
// worked out without looking at anything. A caller that looks at the path
// anyway tries this one first and translates with toPosix (which looks for
// each missing component without regard to case) only when nothing is
// there: one look instead of two for a path that exists.
std::optional<QByteArray> toPosixAsWritten(const QString &winPath, const DriveMap &map,
                                           const MountTable &mounts);
std::optional<QByteArray> toPosixAsWritten(const QString &winPath, const DriveContext &drives);

// The Windows form of a POSIX path: the drive whose folder is the longest
// prefix, its lower-case letter, a colon and backslashes. Nothing when no
// drive holds it or a component cannot be shown in Windows form.
std::optional<QString> toWindows(const QByteArray &posixPath, const DriveMap &map);
std::optional<QString> toWindows(const QByteArray &posixPath, const DriveContext &drives);

// Whether a file name can be shown in Windows form: valid UTF-8 and free of
// backslashes, colons and control characters. Names that cannot are passed
// over by every search: never checked, rewritten or deleted.
bool isRepresentable(const QByteArray &name);

// "c:\" for 'c'.
QString driveRoot(QChar letter);

} // namespace WinPath
