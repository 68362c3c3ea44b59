#pragma once

// The "ANSI" strings of shortcut files: bytes in the code page of the Windows
// that wrote them. Links do not record which one; Windows-1252 is assumed,
// except that bytes which form valid multi-byte UTF-8 are read as UTF-8
// (Windows with the UTF-8 system code page writes those, and text in
// Windows-1252 practically never forms valid multi-byte UTF-8).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
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

// The Windows code pages a shortcut's ANSI strings are commonly written in,
// in the order their readings are tried: 1252 Western, 1250 Central
// European, 1251 Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256
// Arabic, 1257 Baltic, 874 Thai, 932 Japanese, 936 Simplified Chinese, 949
// Korean, 950 Traditional Chinese.
inline constexpr size_t kCodePages = 13;
using PageReadings = std::array<std::optional<QString>, kCodePages>;

// The bytes read in each of those code pages, in that order. Nothing for a
// code page in which they are not the text of a name: bytes it leaves
// undefined, a character cut off at the end, or characters no name holds
// (controls; private-use characters, where converters put bytes a code page
// leaves to its users). Windows-1252 reads every byte. Plain ASCII reads as
// itself in each. The readings depend on the bytes alone, never on what was
// read before.
PageReadings readingsInEachCodePage(const char *data, qint64 size);

// The same readings as a list: each once, none equal to decodeAnsi's. Empty
// for plain ASCII.
QStringList otherReadings(const char *data, qint64 size);

// Exact Windows-1252 form; nothing when some character has none.
std::optional<QByteArray> encodeCp1252(const QString &text);
// Windows-1252 with '?' for each UTF-16 unit that has no form, as Windows
// writes the ANSI copy of a path next to its Unicode copy.
QByteArray encodeCp1252Lossy(const QString &text);

} // namespace AnsiCodec
