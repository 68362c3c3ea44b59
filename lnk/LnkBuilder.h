#pragma once

// Builders for the structures of a shortcut file that change with its target
// (IDList, LinkInfo, RELATIVE_PATH) and for new strings and blocks, in the
// form Windows writes them. Used by LnkFile::setTarget and LnkFile::create.

#include "lnk/LnkFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace LnkBuilder {

// An absolute Windows path split at its root: "C:" (letter upper-case) or
// "\\server\share", then the names below it.
struct WinLocation
{
    bool unc = false;
    QString root;
    QStringList components;
    // "C:\dir\file", "C:\" for the bare drive, "\\server\share\dir".
    QString path() const;
};

// Nothing for a relative path, a bad root, or a name Windows cannot hold
// (control characters, <>:"/|?*, "." or "..").
std::optional<WinLocation> parseWinPath(const QString &winPath);

// LinkTargetIDList (with its size field) for a drive path: My Computer, the
// 0x19-byte volume item, then a file entry per name with a version-3
// BEEF0004 block carrying the long name. Nothing when it would not fit the
// format's 16-bit sizes.
std::optional<QByteArray> idList(const WinLocation &target, const LnkTargetInfo &info);

// LinkInfo for a drive path (VolumeID + local base path) or a UNC path
// (CommonNetworkRelativeLink + suffix). The Unicode fields are added, with
// header size 0x24, when the path does not fit Windows-1252 or its
// Windows-1252 bytes would read back as other text (they form UTF-8).
QByteArray linkInfo(const WinLocation &target, const LnkTargetInfo &info);

// "..\..\dir\file" or ".\file" from the folder of the shortcut to the
// target; nothing when they are on different drives or shares.
std::optional<QString> relativePath(const QString &shortcutWinPath, const WinLocation &target);

// A StringData entry (count, then the characters without a NUL). Nothing
// when an ANSI string does not fit Windows-1252 (or would read back as other
// text) or the count overflows.
std::optional<QByteArray> stringData(const QString &text, bool unicode);

// A 0x314-byte block of the EnvironmentVariable layout (ANSI[260] +
// Unicode[520]) with the given signature.
QByteArray environmentBlock(quint32 signature, const QString &text);

// FAT date and time words (UTC) for a FILETIME, rounded up to even seconds
// as Windows does; zeros outside 1980..2107 or for 0.
std::pair<quint16, quint16> fatDateTime(quint64 filetime);

void appendU16(QByteArray &out, quint16 v);
void appendU32(QByteArray &out, quint32 v);
void appendU64(QByteArray &out, quint64 v);
void putU32(QByteArray &out, qsizetype pos, quint32 v);
void putU64(QByteArray &out, qsizetype pos, quint64 v);

} // namespace LnkBuilder
