#pragma once

// The input of the shortcut rewrite fuzz target: a new target for a link,
// then the link's bytes.
//
//   byte 0        n, the length of the target description
//   bytes 1..n    the target description:
//                   [0]      bits 0-4 drive letter (A + value % 26), bit 5 a
//                            UNC target, bit 6 a folder, bit 7 the shortcut
//                            lies on d: (else c:)
//                   [1..8]   size, [9..16] creation time, [17..24] write
//                            time (little-endian; missing bytes are zero)
//                   [25..]   the path below the root: 0x5C separates names;
//                            a byte from 0xF0 up takes the next two bytes as
//                            one UTF-16 code unit (high byte first); any
//                            other byte is a character of kAlphabet
//   bytes n+1..   the shortcut file
//
// The seed corpus generator encodes targets the same way (encodeTarget).

#include "lnk/LnkFile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace RewriteInput {

// Characters names are made of: plain ones, the punctuation Windows allows
// in names (including '%', which is also the variable marker), accents,
// other scripts, a no-break and a zero-width space, the replacement
// character, and an emoji as a surrogate pair (two entries).
inline const char16_t kAlphabet[] =
    u"aZ0 .-_~$%&',;=()[]{}!#@+^`\u00e9\u00df\u20ac\u65e5\u0416\u00a0\u200b\ufffd"
    u"\U0001F370";
constexpr std::size_t kAlphabetSize = sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1;
constexpr std::size_t kPathStart = 25;

struct Decoded
{
    LnkTargetInfo target;
    QString shortcutWinPath;
    QByteArray link;
};

inline quint64 loadLe64(const QByteArray &bytes, qsizetype at)
{
    quint64 value = 0;
    for (qsizetype i = 0; i < 8; ++i) {
        if (at + i < bytes.size())
            value |= quint64(quint8(bytes[at + i])) << (8 * i);
    }
    return value;
}

inline std::optional<Decoded> decode(const uint8_t *data, std::size_t size)
{
    if (size < 1 || size < 1 + std::size_t(data[0]))
        return std::nullopt;
    const std::size_t n = data[0];
    const QByteArray header(reinterpret_cast<const char *>(data + 1), qsizetype(n));
    Decoded out;
    out.link = QByteArray(reinterpret_cast<const char *>(data + 1 + n), qsizetype(size - 1 - n));

    const quint8 flags = header.isEmpty() ? 0 : quint8(header[0]);
    out.target.size = loadLe64(header, 1);
    out.target.creationTime = loadLe64(header, 9);
    out.target.writeTime = loadLe64(header, 17);
    out.target.accessTime = out.target.writeTime ^ out.target.creationTime;
    out.target.attributes = (flags & 0x40) ? 0x10 : 0x20;
    out.shortcutWinPath =
        (flags & 0x80) ? QStringLiteral("d:\\Links\\x.lnk") : QStringLiteral("c:\\Links\\x.lnk");

    QString path = (flags & 0x20) ? QStringLiteral("\\\\")
                                  : QString(QChar(u'A' + (flags & 0x1F) % 26)) + QStringLiteral(":\\");
    for (qsizetype i = qsizetype(kPathStart); i < header.size(); ++i) {
        const quint8 b = quint8(header[i]);
        if (b == 0x5C) {
            path += QLatin1Char('\\');
        } else if (b >= 0xF0) {
            if (i + 2 >= header.size())
                break;
            path += QChar(char16_t((quint8(header[i + 1]) << 8) | quint8(header[i + 2])));
            i += 2;
        } else {
            path += QChar(kAlphabet[b % kAlphabetSize]);
        }
    }
    out.target.winPath = path;
    return out;
}

// The description of a target, for seeds: `below` is the path under the
// drive's root (or under "\\" for a UNC target).
inline QByteArray encodeTarget(quint8 flags, const QString &below, quint64 size = 0, quint64 creation = 0,
                               quint64 write = 0)
{
    QByteArray header(1, char(flags));
    for (quint64 v : {size, creation, write}) {
        for (int i = 0; i < 8; ++i)
            header.append(char((v >> (8 * i)) & 0xFF));
    }
    for (QChar c : below) {
        if (c == QLatin1Char('\\')) {
            header.append('\x5C');
            continue;
        }
        qsizetype index = -1;
        for (std::size_t k = 0; k < kAlphabetSize && k < 0x5C; ++k) {
            if (kAlphabet[k] == c.unicode()) {
                index = qsizetype(k);
                break;
            }
        }
        if (index >= 0) {
            header.append(char(index));
        } else {
            header.append(char(0xF0));
            header.append(char(c.unicode() >> 8));
            header.append(char(c.unicode() & 0xFF));
        }
    }
    return header.left(255);
}

inline QByteArray input(const QByteArray &header, const QByteArray &link)
{
    return QByteArray(1, char(header.size())) + header + link;
}

} // namespace RewriteInput
