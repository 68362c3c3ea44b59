#pragma once

#include <QString>

class DriveContext;

// The rules by which the check judges a shortcut's target path.
namespace TargetRules {

// The drive part of a path: "c:" for "c:\dir\x.lnk"; "\\server\share" for
// "\\server\share\dir" (the whole path less one trailing backslash when no
// further backslash follows the share name); empty for anything else.
QString drivePart(const QString &path);

// Lower case for the 26 ASCII capitals only; every other character stays.
QString asciiLower(const QString &text);

// Whether a file or a folder exists at a Windows-form path: the attributes
// can be read, or, when reading them fails for another reason than a missing
// file, a missing path or an invalid name, a search for the path as a file
// name finds an entry that is not a folder.
bool targetExists(const DriveContext &drives, const QString &winPath);

} // namespace TargetRules
