#pragma once

// What the parts of LnkFile share for reading a file's bytes: load errors,
// and strings found inside a structure without reading past its end. Only
// the codec's own files use these.

#include "lnk/ByteReader.h"
#include "lnk/LnkFile.h"

#include <QString>

#include <optional>
#include <utility>

namespace LnkReading {

LnkError failure(const char *what, qint64 offset);

// (file offset, length without the terminator) of a string inside a
// structure, the terminator included in it; nothing when it is not.
using Extent = std::pair<qint64, qint64>;

// A NUL-terminated ANSI string at `at` in the structure `scope` reads.
std::optional<Extent> ansiStringIn(const ByteReader &scope, quint64 at);
// A UTF-16 string ended by a zero unit at `at` in `scope`.
std::optional<Extent> wideStringIn(const ByteReader &scope, quint64 at);

// Little-endian UTF-16 code units, bytes / 2 of them, as they are.
QString decodeUtf16(const char *p, qint64 bytes);

} // namespace LnkReading
