#pragma once

// Windows-form paths as text: what can be told about "c:\dir\file" or
// "\\server\share\dir" from its characters alone, without looking at any
// disk. Both backslashes and slashes separate names, as on Windows.

#include <QString>

#include <optional>

namespace WinPathText {

// Whether the path names a root that never moves: a drive ("C:", "C:\") or
// a share ("\\server\share", with or without a final backslash).
bool isRoot(const QString &path);

// The last name of the path, final separators aside; empty for a root.
QString finalName(const QString &path);

// A link's relative path taken from the folder of the shortcut at
// shortcutWinPath, "." and ".." applied (never above the root): "..\a.txt"
// from "c:\x\y\s.lnk" is "c:\x\a.txt". A relative path that is already
// absolute stands as it is; one rooted without a drive ("\a.txt") is taken
// on the shortcut's drive. Nothing for a drive-relative path ("c:a.txt") or
// a shortcut path without a root.
std::optional<QString> placeRelative(const QString &relative, const QString &shortcutWinPath);

} // namespace WinPathText
