#pragma once

// The "ANSI" strings of shortcut files: bytes in the code page of the Windows
// that wrote them. Links do not record which one; Windows-1252 is assumed,
// except that bytes which form valid multi-byte UTF-8 are read as UTF-8
// (Windows with the UTF-8 system code page writes those, and text in
// Windows-1252 practically never forms valid multi-byte UTF-8).

#include <QByteArray>
#include <QString>

#include <optional>

namespace AnsiCodec {

bool isAscii(const char *data, qint64 size);
bool isValidUtf8(const char *data, qint64 size);

QString decodeCp1252(const char *data, qint64 size);
// How shortcut ANSI strings are read: ASCII as is, valid UTF-8 as UTF-8,
// anything else as Windows-1252.
QString decodeAnsi(const char *data, qint64 size);
inline QString decodeAnsi(const QByteArray &bytes)
{
    return decodeAnsi(bytes.constData(), bytes.size());
}

// Exact Windows-1252 form; nothing when some character has none.
std::optional<QByteArray> encodeCp1252(const QString &text);
// Windows-1252 with '?' for each UTF-16 unit that has no form, as Windows
// writes the ANSI copy of a path next to its Unicode copy.
QByteArray encodeCp1252Lossy(const QString &text);

} // namespace AnsiCodec
