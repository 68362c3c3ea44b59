#pragma once

// Windows-form paths as text: how "c:\dir\file" or "\\server\share\dir" is
// formed, split, compared and normalised, told from its characters alone,
// without looking at any disk. The rules are Windows' own:
//
// - Backslashes and slashes both separate names.
// - "\\?\C:\dir" is the local path "C:\dir", and "\\?\UNC\server\share\dir"
//   is "\\server\share\dir".
// - Trailing dots and spaces of a name are not part of it: "setup.exe." and
//   "setup.exe " name "setup.exe". "." and ".." keep their meaning.
// - Drive letters compare without regard to ASCII case; names compare
//   without regard to case (simple case folding, as the translation to this
//   machine's paths looks them up).

#include <QChar>
#include <QString>
#include <QStringList>

#include <optional>

namespace WinPathText {

bool isSeparator(QChar c);

// Lower case for the 26 ASCII capitals only; every other character stays.
QString asciiLower(const QString &text);

// The form in which names are compared: case folded.
QString foldedName(const QString &name);

// A name as Windows uses it: trailing dots and spaces dropped ("a.txt. " is
// "a.txt"), "." and ".." as they are. Empty for a name of dots and spaces
// only, which stands for nothing.
QString normalizedName(const QString &name);

// Whether two names are the same name: normalised and folded alike.
bool sameName(const QString &a, const QString &b);

// A path taken apart: its root, "c:" (letter as written) or
// "\\server\share", and the names below it, "." and ".." applied (never
// above the root) and names that stand for nothing left out. The names are
// otherwise as written, trailing dots and spaces included: a translation
// may look for the name as written before it looks for the normalised one.
struct Parts
{
    QString root;
    QStringList names;
    bool isUnc() const { return root.startsWith(QLatin1Char('\\')); }
};

// Nothing for a path without a root: a relative path, a drive-relative one
// ("c:x"), one rooted on no drive ("\x"), a device path ("\\.\x", "\\?\"
// before anything but a drive or "UNC\"), or a server without a share.
std::optional<Parts> split(const QString &path);

// The same place written the one way: root, then the normalised names
// joined by backslashes ("C:\a\b", "\\srv\share\a"; "C:\" and
// "\\srv\share" for the roots). A path that split() cannot take apart
// stands as it is.
QString normalized(const QString &path);

// The drive part of a path: "c:" for "c:\dir\x.lnk" (also for
// "\\?\c:\dir\x.lnk", and for the drive-relative "c:x"); "\\server\share"
// for "\\server\share\dir" and "\\?\UNC\server\share\dir" ("\\server" when
// no share follows); empty for anything else. Letters and names are kept as
// written; separators become backslashes.
QString drivePart(const QString &path);

// Whether both paths lie on one drive or share: equal, non-empty drive
// parts, ASCII letter case aside.
bool sameDrive(const QString &a, const QString &b);

// The folder part of a path, as written: up to and including its last
// separator ("c:\a\b.lnk" -> "c:\a\", "c:\b.lnk" -> "c:\"); the drive of a
// drive-relative path ("c:b.lnk" -> "c:"); empty when it has neither.
QString folderPart(const QString &path);

// The last name of the path, final separators aside; empty for a root.
QString finalName(const QString &path);

// A name in a folder: "c:\a" and "b" make "c:\a\b"; "c:\" and "b" make
// "c:\b". Just the name when the folder is empty.
QString join(const QString &folder, const QString &name);

// Whether inner is outer itself or lies below it: the same drive or share
// and outer's names leading inner's, compared by the rules above
// ("c:\ab" is not within "c:\a"). False when either has no root.
bool isWithin(const QString &outer, const QString &inner);

// Whether the path names a root that never moves: a drive ("C:", "C:\") or
// a share ("\\server\share", with or without a final backslash).
bool isRoot(const QString &path);

// A link's relative path taken from the folder of the shortcut at
// shortcutWinPath, "." and ".." applied (never above the root): "..\a.txt"
// from "c:\x\y\s.lnk" is "c:\x\a.txt". A relative path that is already
// absolute stands as it is; one rooted without a drive ("\a.txt") is taken
// on the shortcut's drive. Nothing for a drive-relative path ("c:a.txt") or
// a shortcut path without a root.
std::optional<QString> placeRelative(const QString &relative, const QString &shortcutWinPath);

} // namespace WinPathText
