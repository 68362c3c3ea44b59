#pragma once

#include "platform/DriveMap.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Translation between the program's Windows-form paths ("c:\Users\x.lnk")
// and POSIX paths of this machine.
namespace WinPath {

// The POSIX path that a Windows-form path names. The drive part picks the
// folder from the map; every further component is looked up exactly first
// and, when that fails, without regard to case (simple case folding), one
// component at a time. Components that do not exist are kept as written, so
// the result may name a missing file. "." and ".." are applied textually
// and never climb above the drive's folder. Nothing for a letter the map
// lacks, for a UNC path (\\server\share\...), a relative path, or a
// component that no POSIX name can hold (an embedded '/' or NUL).
std::optional<QByteArray> toPosix(const QString &winPath, const DriveMap &map = DriveMap::current());

// The Windows form of a POSIX path: the drive whose folder is the longest
// prefix, its lower-case letter, a colon and backslashes. Nothing when no
// drive holds it or a component cannot be shown in Windows form.
std::optional<QString> toWindows(const QByteArray &posixPath, const DriveMap &map = DriveMap::current());

// Whether a file name can be shown in Windows form: valid UTF-8 and free of
// backslashes, colons and control characters. Names that cannot are passed
// over by every search: never checked, rewritten or deleted.
bool isRepresentable(const QByteArray &name);

// "c:\" for 'c'.
QString driveRoot(QChar letter);

} // namespace WinPath
