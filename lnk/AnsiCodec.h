#pragma once

// The "ANSI" strings of shortcut files: bytes in the code page of the Windows
// that wrote them. Links do not record which one; Windows-1252 is assumed,
// except that bytes which form valid multi-byte UTF-8 are read as UTF-8
// (Windows with the UTF-8 system code page writes those, and text in
// Windows-1252 practically never forms valid multi-byte UTF-8).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace AnsiCodec {

bool isAscii(const char *data, qint64 size);

QString decodeCp1252(const char *data, qint64 size);
// How shortcut ANSI strings are read: ASCII as is, valid UTF-8 as UTF-8,
// anything else as Windows-1252.
QString decodeAnsi(const char *data, qint64 size);
inline QString decodeAnsi(const QByteArray &bytes)
{
    return decodeAnsi(bytes.constData(), bytes.size());
}

// The same bytes read in the other Windows code pages a shortcut's ANSI
// strings are commonly written in (Windows-1252 when decodeAnsi read them
// as UTF-8; then 1250 Central European, 1251 Cyrillic, 1253 Greek, 1254
// Turkish, 1255 Hebrew, 1256 Arabic, 1257 Baltic, 874 Thai, 932 Japanese,
// 936 Simplified Chinese, 949 Korean, 950 Traditional Chinese), in that
// order, each reading once and none equal to decodeAnsi's. Empty for plain
// ASCII. A code page in which the bytes are not valid text gives no reading.
// The readings depend on the bytes alone, never on what was read before.
QStringList otherReadings(const char *data, qint64 size);

// Exact Windows-1252 form; nothing when some character has none.
std::optional<QByteArray> encodeCp1252(const QString &text);
// Windows-1252 with '?' for each UTF-16 unit that has no form, as Windows
// writes the ANSI copy of a path next to its Unicode copy.
QByteArray encodeCp1252Lossy(const QString &text);

} // namespace AnsiCodec
