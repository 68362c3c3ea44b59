#include "lnk/LnkFile.h"

#include "lnk/AnsiCodec.h"
#include "lnk/ByteReader.h"
#include "lnk/LnkBuilder.h"
#include "lnk/ShellIds.h"
#include "lnk/WinPathText.h"
#include "lnk/WinVariables.h"

#include <cstring>
#include <utility>

namespace {

constexpr qint64 kHeaderSize = 0x4C;
// The StringData strings, in file order, and the flag that says each is there.
enum StringSlot { NameString, RelativePathString, WorkingDirString, ArgumentsString, IconLocationString };
constexpr quint32 kStringFlags[5] = {LnkFlag::HasName, LnkFlag::HasRelativePath, LnkFlag::HasWorkingDir,
                                     LnkFlag::HasArguments, LnkFlag::HasIconLocation};
constexpr quint32 kBeef0004 = 0xBEEF0004;
constexpr quint32 kPresenceFlags = LnkFlag::HasLinkTargetIDList | LnkFlag::HasLinkInfo | LnkFlag::HasName |
                                   LnkFlag::HasRelativePath | LnkFlag::HasWorkingDir | LnkFlag::HasArguments |
                                   LnkFlag::HasIconLocation;

LnkError failure(const char *what, qint64 offset)
{
    return LnkError{QString::fromLatin1(what), offset};
}

// (file offset, length without the terminator) of a string inside a
// structure, the terminator included in it; nothing when it is not.
using Extent = std::pair<qint64, qint64>;

std::optional<Extent> ansiStringIn(const ByteReader &scope, quint64 at)
{
    if (at >= static_cast<quint64>(scope.size()))
        return std::nullopt;
    const char *start = scope.data() + at;
    const qint64 left = scope.size() - static_cast<qint64>(at);
    const void *nul = std::memchr(start, 0, static_cast<size_t>(left));
    if (!nul)
        return std::nullopt;
    return Extent{scope.base() + static_cast<qint64>(at), static_cast<const char *>(nul) - start};
}

std::optional<Extent> wideStringIn(const ByteReader &scope, quint64 at)
{
    if (at >= static_cast<quint64>(scope.size()))
        return std::nullopt;
    for (quint64 k = at; k + 1 < static_cast<quint64>(scope.size()); k += 2) {
        if (scope.data()[k] == 0 && scope.data()[k + 1] == 0)
            return Extent{scope.base() + static_cast<qint64>(at), static_cast<qint64>(k - at)};
    }
    return std::nullopt;
}

QString decodeUtf16(const char *p, qint64 bytes)
{
    const qint64 units = bytes / 2;
    QString out(static_cast<qsizetype>(units), Qt::Uninitialized);
    QChar *dst = out.data();
    for (qint64 i = 0; i < units; ++i)
        dst[i] = QChar(ByteReader::loadLe<quint16>(p + 2 * i));
    return out;
}

QString joinPath(const QString &base, const QString &suffix)
{
    if (suffix.isEmpty())
        return base;
    if (base.endsWith(QLatin1Char('\\')))
        return base + suffix;
    return base + QLatin1Char('\\') + suffix;
}

// Whether a path is absolute: "c:\dir" or "\\server\share\dir".
bool isAbsolute(const QString &path)
{
    const auto separator = [&](qsizetype i) {
        return path.size() > i && (path.at(i) == QLatin1Char('\\') || path.at(i) == QLatin1Char('/'));
    };
    const QChar letter = path.isEmpty() ? QChar() : path.at(0).toLower();
    if (letter >= QLatin1Char('a') && letter <= QLatin1Char('z') && path.size() >= 3 &&
        path.at(1) == QLatin1Char(':') && separator(2))
        return true;
    return separator(0) && separator(1) && path.size() > 2 && !separator(2);
}

QString unquoted(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

} // namespace

struct LnkFile::Parts
{
    QByteArray header;
    QByteArray idList;   // with its size field; empty = absent
    QByteArray linkInfo; // empty = absent
    std::array<std::optional<QByteArray>, 5> strings;
    QList<QByteArray> blocks;
    QByteArray terminal;
    QByteArray trailing;
};

std::variant<LnkFile, LnkError> LnkFile::parse(const QByteArray &bytes)
{
    LnkFile link;
    link.m_bytes = bytes;
    if (auto error = link.readAll())
        return *error;
    return link;
}

std::optional<LnkError> LnkFile::readAll()
{
    const char *d = m_bytes.constData();
    const qint64 n = m_bytes.size();
    ByteReader r(d, n);

    quint32 headerSize = 0;
    if (!r.u32(headerSize))
        return failure("file is too short for a shell link header", 0);
    if (headerSize != kHeaderSize)
        return failure("header size is not 0x4C", 0);
    if (n < kHeaderSize)
        return failure("shell link header is truncated", n);
    if (std::memcmp(d + 4, ShellIds::kShellLink, 16) != 0)
        return failure("class id is not the shell link class", 4);
    const quint32 flags = linkFlags();
    r.seek(kHeaderSize);

    if (flags & LnkFlag::HasLinkTargetIDList) {
        const qint64 start = r.pos();
        quint16 listSize = 0;
        if (!r.u16(listSize))
            return failure("IDList size is truncated", start);
        auto list = r.slice(listSize);
        if (!list)
            return failure("IDList runs past the end of the file", start);
        m_idList = {start, 2 + static_cast<qint64>(listSize)};
        for (;;) {
            const qint64 itemStart = list->fileOffset();
            quint16 itemSize = 0;
            if (!list->u16(itemSize))
                return failure("IDList has no terminal item", itemStart);
            if (itemSize == 0)
                break;
            if (itemSize < 2)
                return failure("ItemID is shorter than its size field", itemStart);
            if (!list->skip(itemSize - 2u))
                return failure("ItemID runs past the end of its IDList", itemStart);
            m_items.push_back({itemStart, itemSize});
        }
    }

    if (flags & LnkFlag::HasLinkInfo) {
        const qint64 start = r.pos();
        quint32 infoSize = 0;
        if (!r.peekAt(static_cast<quint64>(start), infoSize))
            return failure("LinkInfo size is truncated", start);
        if (infoSize < 0x1C)
            return failure("LinkInfo is smaller than its header", start);
        if (!r.has(infoSize))
            return failure("LinkInfo runs past the end of the file", start);
        if (auto error = readLinkInfo(start, infoSize))
            return error;
        r.skip(infoSize);
    }

    // Wine's shell32 writes RELATIVE_PATH without setting HasRelativePath.
    // Read strictly first; when that fails and the flag is clear, read the
    // strings again with the relative path in its place.
    const qint64 stringsStart = r.pos();
    qint64 pos = stringsStart;
    auto error = readStrings(pos, false);
    if (!error)
        error = readExtraData(pos);
    if (error && !(flags & LnkFlag::HasRelativePath) && (flags & LnkFlag::IsUnicode)) {
        pos = stringsStart;
        auto retry = readStrings(pos, true);
        if (!retry)
            retry = readExtraData(pos);
        if (!retry) {
            m_relWithoutFlag = true;
            error.reset();
        }
    }
    return error;
}

std::optional<LnkError> LnkFile::readLinkInfo(qint64 offset, qint64 size)
{
    const char *d = m_bytes.constData();
    const ByteReader info(d + offset, size, offset);
    quint32 headerSize = 0, flags = 0, volumeOffset = 0, localOffset = 0, netOffset = 0, suffixOffset = 0;
    info.peekAt(4, headerSize);
    info.peekAt(8, flags);
    info.peekAt(0xC, volumeOffset);
    info.peekAt(0x10, localOffset);
    info.peekAt(0x14, netOffset);
    info.peekAt(0x18, suffixOffset);
    if (headerSize < 0x1C || headerSize > size)
        return failure("LinkInfo header size is invalid", offset + 4);
    quint32 localUnicodeOffset = 0, suffixUnicodeOffset = 0;
    if (headerSize >= 0x24) {
        info.peekAt(0x1C, localUnicodeOffset);
        info.peekAt(0x20, suffixUnicodeOffset);
    }
    m_linkInfo = {offset, size};
    m_info = {};
    m_info.flags = flags;
    auto text = [](const std::optional<Extent> &e, bool unicode) {
        return e ? Text{e->first, e->second, unicode} : Text{};
    };

    if (flags & LnkInfoFlag::VolumeIDAndLocalBasePath) {
        quint32 volumeSize = 0;
        if (!info.peekAt(volumeOffset, volumeSize) || volumeSize < 0x10 ||
            static_cast<quint64>(volumeSize) > static_cast<quint64>(size) - volumeOffset)
            return failure("VolumeID is invalid", offset + 0xC);
        const ByteReader volume(d + offset + volumeOffset, volumeSize, offset + volumeOffset);
        quint32 labelOffset = 0;
        volume.peekAt(4, m_info.driveType);
        volume.peekAt(8, m_info.serial);
        volume.peekAt(0xC, labelOffset);
        m_info.hasVolume = true;
        // The label does not take part in the target, so a bad one is
        // simply left out.
        quint32 labelUnicodeOffset = 0;
        if (labelOffset == 0x14 && volume.peekAt(0x10, labelUnicodeOffset))
            m_info.label = text(wideStringIn(volume, labelUnicodeOffset), true);
        else
            m_info.label = text(ansiStringIn(volume, labelOffset), false);

        const auto local = ansiStringIn(info, localOffset);
        if (!local)
            return failure("local base path is invalid", offset + 0x10);
        m_info.localAnsi = text(local, false);
        if (localUnicodeOffset) {
            const auto wide = wideStringIn(info, localUnicodeOffset);
            if (!wide)
                return failure("Unicode local base path is invalid", offset + 0x1C);
            m_info.localUnicode = text(wide, true);
        }
    }

    if (flags & LnkInfoFlag::CommonNetworkRelativeLinkAndPathSuffix) {
        quint32 netSize = 0;
        if (!info.peekAt(netOffset, netSize) || netSize < 0x14 ||
            static_cast<quint64>(netSize) > static_cast<quint64>(size) - netOffset)
            return failure("CommonNetworkRelativeLink is invalid", offset + 0x14);
        const ByteReader net(d + offset + netOffset, netSize, offset + netOffset);
        quint32 netFlags = 0, nameOffset = 0, deviceOffset = 0;
        net.peekAt(4, netFlags);
        net.peekAt(8, nameOffset);
        net.peekAt(0xC, deviceOffset);
        const auto name = ansiStringIn(net, nameOffset);
        if (!name)
            return failure("net name is invalid", offset + netOffset + 8);
        m_info.netAnsi = text(name, false);
        if (netFlags & LnkNetFlag::ValidDevice) {
            const auto device = ansiStringIn(net, deviceOffset);
            if (!device)
                return failure("device name is invalid", offset + netOffset + 0xC);
            m_info.deviceAnsi = text(device, false);
        }
        quint32 nameUnicodeOffset = 0, deviceUnicodeOffset = 0;
        if (nameOffset > 0x14 && net.peekAt(0x14, nameUnicodeOffset) &&
            net.peekAt(0x18, deviceUnicodeOffset)) {
            if (nameUnicodeOffset) {
                const auto wide = wideStringIn(net, nameUnicodeOffset);
                if (!wide)
                    return failure("Unicode net name is invalid", offset + netOffset + 0x14);
                m_info.netUnicode = text(wide, true);
            }
            if ((netFlags & LnkNetFlag::ValidDevice) && deviceUnicodeOffset) {
                const auto wide = wideStringIn(net, deviceUnicodeOffset);
                if (!wide)
                    return failure("Unicode device name is invalid", offset + netOffset + 0x18);
                m_info.deviceUnicode = text(wide, true);
            }
        }
    }

    if (suffixOffset) {
        const auto suffix = ansiStringIn(info, suffixOffset);
        if (!suffix)
            return failure("common path suffix is invalid", offset + 0x18);
        m_info.suffixAnsi = text(suffix, false);
    }
    if (suffixUnicodeOffset) {
        const auto wide = wideStringIn(info, suffixUnicodeOffset);
        if (!wide)
            return failure("Unicode common path suffix is invalid", offset + 0x20);
        m_info.suffixUnicode = text(wide, true);
    }
    return std::nullopt;
}

std::optional<LnkError> LnkFile::readStrings(qint64 &pos, bool withRelative)
{
    const quint32 flags = linkFlags();
    const bool unicode = flags & LnkFlag::IsUnicode;
    m_stringSpans = {};
    m_strings = {};
    ByteReader r(m_bytes.constData(), m_bytes.size());
    r.seek(static_cast<quint64>(pos));
    for (int i = 0; i < 5; ++i) {
        if (!(flags & kStringFlags[i]) && !(i == RelativePathString && withRelative))
            continue;
        const qint64 start = r.pos();
        quint16 count = 0;
        if (!r.u16(count))
            return failure("string length is truncated", start);
        const quint64 bytes = static_cast<quint64>(count) * (unicode ? 2u : 1u);
        if (!r.skip(bytes))
            return failure("string runs past the end of the file", start);
        m_stringSpans[i] = {start, 2 + static_cast<qint64>(bytes)};
        m_strings[i] = {start + 2, static_cast<qint64>(bytes), unicode};
    }
    pos = r.pos();
    return std::nullopt;
}

std::optional<LnkError> LnkFile::readExtraData(qint64 pos)
{
    m_blocks.clear();
    m_terminal = {};
    m_trailing = {};
    ByteReader r(m_bytes.constData(), m_bytes.size());
    r.seek(static_cast<quint64>(pos));
    for (;;) {
        // A file that ends where the next block would start lacks only the
        // terminal block; everything in it is still readable.
        if (r.atEnd())
            return std::nullopt;
        const qint64 start = r.pos();
        quint32 blockSize = 0;
        if (!r.u32(blockSize))
            return failure("extra data block size is truncated", start);
        if (blockSize < 4) {
            m_terminal = {start, 4};
            if (!r.atEnd())
                m_trailing = {r.pos(), r.remaining()};
            return std::nullopt;
        }
        if (blockSize < 8)
            return failure("extra data block is smaller than its header", start);
        r.seek(static_cast<quint64>(start));
        const auto block = r.slice(blockSize);
        if (!block)
            return failure("extra data block runs past the end of the file", start);
        quint32 signature = 0;
        block->peekAt(4, signature);
        m_blocks.push_back({{start, static_cast<qint64>(blockSize)}, signature});
    }
}

QByteArray LnkFile::serialize() const
{
    return m_bytes;
}

quint32 LnkFile::linkFlags() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + 0x14);
}

quint32 LnkFile::fileAttributes() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + 0x18);
}

quint64 LnkFile::creationTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + 0x1C);
}

quint64 LnkFile::accessTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + 0x24);
}

quint64 LnkFile::writeTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + 0x2C);
}

quint32 LnkFile::fileSize() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + 0x34);
}

qint32 LnkFile::iconIndex() const
{
    return static_cast<qint32>(ByteReader::loadLe<quint32>(m_bytes.constData() + 0x38));
}

quint32 LnkFile::showCommand() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + 0x3C);
}

quint16 LnkFile::hotKey() const
{
    return ByteReader::loadLe<quint16>(m_bytes.constData() + 0x40);
}

QString LnkFile::text(const Text &t) const
{
    if (!t.present())
        return QString();
    const char *p = m_bytes.constData() + t.offset;
    if (t.unicode) {
        QString s = decodeUtf16(p, t.size);
        const qsizetype nul = s.indexOf(QChar(0));
        return nul >= 0 ? s.left(nul) : s;
    }
    const void *nul = std::memchr(p, 0, static_cast<size_t>(t.size));
    const qint64 length = nul ? static_cast<const char *>(nul) - p : t.size;
    return AnsiCodec::decodeAnsi(p, length);
}

std::optional<QString> LnkFile::stringAt(int index) const
{
    if (!m_strings[index].present())
        return std::nullopt;
    return text(m_strings[index]);
}

std::optional<QString> LnkFile::name() const
{
    return stringAt(NameString);
}

std::optional<QString> LnkFile::relativePath() const
{
    return stringAt(RelativePathString);
}

std::optional<QString> LnkFile::workingDirectory() const
{
    return stringAt(WorkingDirString);
}

std::optional<QString> LnkFile::arguments() const
{
    return stringAt(ArgumentsString);
}

std::optional<QString> LnkFile::iconLocation() const
{
    return stringAt(IconLocationString);
}

const LnkFile::Block *LnkFile::findBlock(quint32 signature) const
{
    for (const Block &b : m_blocks) {
        if (b.signature == signature)
            return &b;
    }
    return nullptr;
}

QList<quint32> LnkFile::extraBlockSignatures() const
{
    QList<quint32> out;
    for (const Block &b : m_blocks)
        out << b.signature;
    return out;
}

std::optional<QString> LnkFile::environmentTarget() const
{
    // TargetAnsi[260] then TargetUnicode[520 bytes]; bytes after each NUL
    // may be garbage.
    const Block *block = findBlock(LnkBlock::EnvironmentVariable);
    if (!block || block->span.size < 0x314)
        return std::nullopt;
    const QString wide = text(Text{block->span.offset + 8 + 260, 520, true});
    if (!wide.isEmpty())
        return wide;
    return text(Text{block->span.offset + 8, 260, false});
}

std::optional<LnkVolume> LnkFile::volume() const
{
    if (!m_info.hasVolume)
        return std::nullopt;
    return LnkVolume{m_info.driveType, m_info.serial, text(m_info.label)};
}

std::optional<LnkTracker> LnkFile::tracker() const
{
    const Block *block = findBlock(LnkBlock::Tracker);
    if (!block || block->span.size < 0x60)
        return std::nullopt;
    const QByteArray b = m_bytes.mid(block->span.offset, 0x60);
    LnkTracker t;
    t.machineId = b.mid(16, 16);
    const qsizetype nul = t.machineId.indexOf('\0');
    if (nul >= 0)
        t.machineId.truncate(nul);
    t.droidVolume = b.mid(32, 16);
    t.droidObject = b.mid(48, 16);
    t.birthVolume = b.mid(64, 16);
    t.birthObject = b.mid(80, 16);
    return t;
}

// The long name of a file entry item: from its BEEF0004 extension block
// (located by the offset in the item's last two bytes, as Windows and Wine
// both store it, or else by walking the blocks after the primary name),
// else the primary name. Wine writes the block with zeros where Windows
// has the version and signature; its long name sits where version 3 has it.
QString LnkFile::fileEntryName(const Span &item) const
{
    const ByteReader it(m_bytes.constData() + item.offset, item.size, item.offset);
    auto longName = [&](quint64 at, quint64 blockSize, bool allowWine) -> std::optional<QString> {
        if ((at & 1) || at < 14 || at > static_cast<quint64>(item.size) || blockSize < 24 ||
            blockSize > static_cast<quint64>(item.size) - at)
            return std::nullopt;
        quint16 version = 0;
        quint32 signature = 0;
        it.peekAt(at + 2, version);
        it.peekAt(at + 4, signature);
        quint64 nameAt = 0;
        if (signature == kBeef0004 && version >= 3)
            nameAt = version >= 9 ? 46 : version == 8 ? 42 : version == 7 ? 38 : 20;
        else if (allowWine && signature == 0 && version == 0)
            nameAt = 20;
        else
            return std::nullopt;
        // The block ends with the two-byte offset, which the name stops before.
        const ByteReader block(it.data() + at, static_cast<qint64>(blockSize) - 2,
                               it.base() + static_cast<qint64>(at));
        const auto name = wideStringIn(block, nameAt);
        if (!name || name->second == 0)
            return std::nullopt;
        return decodeUtf16(m_bytes.constData() + name->first, name->second);
    };

    quint8 type = 0;
    it.peekAt(2, type);
    QString primary;
    quint64 primaryEnd = 14;
    if (type & 0x04) {
        if (const auto e = wideStringIn(it, 14)) {
            primary = decodeUtf16(m_bytes.constData() + e->first, e->second);
            primaryEnd = 14 + static_cast<quint64>(e->second) + 2;
        }
    } else if (const auto e = ansiStringIn(it, 14)) {
        primary = AnsiCodec::decodeAnsi(m_bytes.constData() + e->first, e->second);
        primaryEnd = 14 + static_cast<quint64>(e->second) + 1;
    }

    quint16 extOffset = 0;
    quint16 extSize = 0;
    if (item.size >= 2 && it.peekAt(static_cast<quint64>(item.size) - 2, extOffset) &&
        it.peekAt(extOffset, extSize) && extOffset + static_cast<qint64>(extSize) == item.size) {
        if (auto name = longName(extOffset, extSize, true))
            return *name;
    }
    for (quint64 at = (primaryEnd + 1) & ~quint64(1); at + 8 <= static_cast<quint64>(item.size);) {
        quint16 blockSize = 0;
        quint32 signature = 0;
        it.peekAt(at, blockSize);
        it.peekAt(at + 4, signature);
        if (blockSize < 8 || blockSize > static_cast<quint64>(item.size) - at)
            break;
        if (signature == kBeef0004) {
            if (auto name = longName(at, blockSize, false))
                return *name;
            break;
        }
        at += blockSize;
    }
    return primary;
}

// Appends the names of the file entries from item `first` on; nothing when
// one of them is not a file entry.
std::optional<QString> LnkFile::fileEntriesFrom(QString path, size_t first) const
{
    const char *d = m_bytes.constData();
    for (size_t i = first; i < m_items.size(); ++i) {
        const Span &item = m_items[i];
        if (item.size < 3 || (static_cast<quint8>(d[item.offset + 2]) & 0x70) != 0x30)
            return std::nullopt;
        const QString name = fileEntryName(item);
        if (name.isEmpty() || name.contains(QLatin1Char('\\')))
            return std::nullopt;
        if (!path.endsWith(QLatin1Char('\\')))
            path += QLatin1Char('\\');
        path += name;
    }
    return path;
}

// My Computer, a drive item ("C:\"), then file entries; any other item
// means the IDList names something outside the file system.
std::optional<QString> LnkFile::idListPath() const
{
    if (m_items.size() < 2)
        return folderRelativePath();
    const char *d = m_bytes.constData();
    const Span &root = m_items[0];
    if (root.size < 20 || static_cast<quint8>(d[root.offset + 2]) != 0x1F ||
        std::memcmp(d + root.offset + 4, ShellIds::kMyComputer, 16) != 0)
        return folderRelativePath();
    const Span &drive = m_items[1];
    if (drive.size < 6 || (static_cast<quint8>(d[drive.offset + 2]) & 0x70) != 0x20)
        return folderRelativePath();
    const char letter = d[drive.offset + 3];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) || d[drive.offset + 4] != ':')
        return folderRelativePath();
    return fileEntriesFrom(QString(QLatin1Char(letter)) + QLatin1String(":\\"), 2);
}

// An IDList whose first items do not name a drive (Windows writes such
// lists for targets in known folders, e.g. with a volume item of "\") is
// read through the KnownFolder or SpecialFolder block: the folder's fixed
// location, then the file entries from the block's offset into the list.
std::optional<QString> LnkFile::folderRelativePath() const
{
    if (!m_idList.present() || (linkFlags() & LnkFlag::DisableKnownFolderTracking))
        return std::nullopt;
    const qint64 listStart = m_idList.offset + 2;
    const qint64 listEnd = m_items.empty() ? listStart : m_items.back().offset + m_items.back().size;
    auto from = [&](const std::optional<QString> &folder, quint32 offset) -> std::optional<QString> {
        if (!folder)
            return std::nullopt;
        if (listStart + offset == listEnd)
            return folder;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].offset - listStart == offset)
                return fileEntriesFrom(*folder, i);
        }
        return std::nullopt;
    };
    const char *d = m_bytes.constData();
    if (const Block *b = findBlock(LnkBlock::KnownFolder); b && b->span.size >= 0x1C) {
        const auto folder = WinVariables::knownFolder(m_bytes.mid(b->span.offset + 8, 16));
        if (auto path = from(folder, ByteReader::loadLe<quint32>(d + b->span.offset + 24)))
            return path;
    }
    if (const Block *b = findBlock(LnkBlock::SpecialFolder); b && b->span.size >= 0x10) {
        const auto folder = WinVariables::specialFolder(ByteReader::loadLe<quint32>(d + b->span.offset + 8));
        if (auto path = from(folder, ByteReader::loadLe<quint32>(d + b->span.offset + 12)))
            return path;
    }
    return std::nullopt;
}

// The forms of a link's target, each as the file holds it, with what the
// order of targetPath needs to know about them.
struct LnkFile::Forms
{
    std::optional<LnkTargetForm> environment;
    bool environmentFirst = false; // holds a %variable%, or PreferEnvironmentPath
    std::optional<LnkTargetForm> local, network;
    bool localGuess = false, networkGuess = false; // the ANSI reading is a guess
    std::optional<LnkTargetForm> idList;
    std::optional<LnkTargetForm> relative;             // from the shortcut's folder
    std::optional<LnkTargetForm> relativeToWorkingDir; // from the working folder
};

QByteArray LnkFile::ansiBytes(const Text &t) const
{
    const char *p = m_bytes.constData() + t.offset;
    const void *nul = std::memchr(p, 0, static_cast<size_t>(t.size));
    return QByteArray(p, nul ? static_cast<const char *>(nul) - p : t.size);
}

void LnkFile::collectLinkInfoForms(Forms &forms) const
{
    if (!m_linkInfo.present() || (linkFlags() & LnkFlag::ForceNoLinkInfo))
        return;
    // One piece of a LinkInfo path: its text, and its bytes when it was read
    // from ANSI bytes beyond ASCII (whose code page is a guess).
    struct Piece
    {
        QString text;
        std::optional<QByteArray> ansi;
        bool guess = false;
        bool present() const { return !text.isEmpty(); }
    };
    auto pick = [this](const Text &wide, const Text &ansi) {
        Piece p;
        if (wide.present()) {
            p.text = text(wide);
        } else if (ansi.present()) {
            p.text = text(ansi);
            const QByteArray bytes = ansiBytes(ansi);
            if (!AnsiCodec::isAscii(bytes.constData(), bytes.size()))
                p.ansi = bytes;
            // A '?' (never valid in a Windows name) is where the writer's
            // code page had no form for a character.
            p.guess = p.ansi || p.text.contains(QLatin1Char('?'));
        }
        return p;
    };
    // The readings of base + suffix in the other code pages. Both were
    // written in the writer's code page, so they are read in the same one;
    // but each on its own, for a lead byte at the end of one piece must not
    // take the separator or the next piece's first byte, and a code page in
    // which either piece is no text gives no reading.
    auto readings = [](const Piece &base, const Piece &suffix) {
        QStringList out;
        if (!base.ansi && !suffix.ansi)
            return out;
        const auto inEachCodePage = [](const Piece &piece) {
            if (piece.ansi)
                return AnsiCodec::readingsInEachCodePage(piece.ansi->constData(), piece.ansi->size());
            AnsiCodec::PageReadings same;
            same.fill(piece.text);
            return same;
        };
        const AnsiCodec::PageReadings bases = inEachCodePage(base);
        const AnsiCodec::PageReadings suffixes = inEachCodePage(suffix);
        const QString path = joinPath(base.text, suffix.text);
        for (size_t page = 0; page < AnsiCodec::kCodePages; ++page) {
            if (!bases[page] || !suffixes[page])
                continue;
            const QString reading = joinPath(*bases[page], *suffixes[page]);
            if (reading != path && !out.contains(reading))
                out << reading;
        }
        return out;
    };
    auto form = [&](LnkFormSource source, const Piece &base, const Piece &suffix) {
        LnkTargetForm f;
        f.source = source;
        f.path = joinPath(base.text, suffix.text);
        f.otherReadings = readings(base, suffix);
        return f;
    };

    const Piece suffix = pick(m_info.suffixUnicode, m_info.suffixAnsi);
    if (m_info.flags & LnkInfoFlag::VolumeIDAndLocalBasePath) {
        const Piece local = pick(m_info.localUnicode, m_info.localAnsi);
        if (local.present()) {
            forms.local = form(LnkFormSource::LinkInfoLocal, local, suffix);
            forms.localGuess = local.guess || suffix.guess;
        }
    }
    if (!(m_info.flags & LnkInfoFlag::CommonNetworkRelativeLinkAndPathSuffix))
        return;
    const Piece device = pick(m_info.deviceUnicode, m_info.deviceAnsi);
    if (!forms.local && device.present()) {
        forms.local = form(LnkFormSource::LinkInfoLocal, device, suffix);
        forms.localGuess = device.guess || suffix.guess;
    }
    const Piece net = pick(m_info.netUnicode, m_info.netAnsi);
    if (!net.present())
        return;
    forms.network = form(LnkFormSource::LinkInfoNetwork, net, suffix);
    forms.networkGuess = net.guess || suffix.guess;
    if (net.guess || !suffix.guess)
        return;
    // The suffix's code page is a guess, but the server and share are not:
    // the names after them are the IDList's last ones, in UTF-16, when the
    // IDList has as many and the suffix's plain ASCII names agree with them.
    const std::optional<QString> list = idListPath();
    if (!list || list->size() < 3 || list->at(1) != QLatin1Char(':'))
        return;
    const QStringList names = suffix.text.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    const QStringList listNames = list->mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (names.isEmpty() || names.size() > listNames.size())
        return;
    const QStringList tail = listNames.mid(listNames.size() - names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray latin = names[i].toLatin1();
        if (AnsiCodec::isAscii(latin.constData(), latin.size()) &&
            names[i].compare(tail[i], Qt::CaseInsensitive) != 0)
            return;
    }
    forms.network->otherReadings.prepend(forms.network->path);
    forms.network->path = joinPath(net.text, tail.join(QLatin1Char('\\')));
    forms.network->otherReadings.removeAll(forms.network->path);
    forms.networkGuess = false;
}

LnkFile::Forms LnkFile::collectForms(const QString &shortcutWinPath) const
{
    Forms forms;
    const quint32 flags = linkFlags();
    if (flags & LnkFlag::HasDarwinID)
        return forms;

    if ((flags & LnkFlag::HasExpString) && !(flags & LnkFlag::DisableLinkPathTracking)) {
        if (std::optional<QString> env = environmentTarget()) {
            const QString stored = unquoted(*env);
            if (!stored.isEmpty()) {
                const std::optional<WinVariables::Profile> profile = WinVariables::profileOf(shortcutWinPath);
                const std::optional<QString> expanded =
                    WinVariables::expand(stored, profile ? &*profile : nullptr);
                LnkTargetForm f;
                f.source = LnkFormSource::Environment;
                f.path = expanded.value_or(stored);
                f.formed = expanded.has_value();
                forms.environment = f;
                forms.environmentFirst =
                    (flags & LnkFlag::PreferEnvironmentPath) || stored.contains(QLatin1Char('%'));
            }
        }
    }
    collectLinkInfoForms(forms);
    if (const std::optional<QString> list = idListPath()) {
        LnkTargetForm f;
        f.source = LnkFormSource::IdList;
        f.path = *list;
        forms.idList = f;
    }

    const std::optional<QString> relative = relativePath();
    if (!relative)
        return forms;
    // The relative path names the same target as the other forms only when
    // it leads to an entry of their name (or to a root, as they do).
    const auto relativeForm = [&](const QString &placed) {
        LnkTargetForm f;
        f.source = LnkFormSource::Relative;
        f.path = placed;
        for (const std::optional<LnkTargetForm> *other :
             {&forms.environment, &forms.local, &forms.network, &forms.idList}) {
            if (!*other)
                continue;
            const QString name = WinPathText::finalName((*other)->path);
            f.sameTarget = name.isEmpty()
                               ? WinPathText::isRoot(placed)
                               : WinPathText::finalName(placed).compare(name, Qt::CaseInsensitive) == 0;
            break;
        }
        return f;
    };
    if (!shortcutWinPath.isEmpty()) {
        if (const std::optional<QString> placed = WinPathText::placeRelative(*relative, shortcutWinPath))
            forms.relative = relativeForm(*placed);
    }
    // A program started through the link runs in its working folder, where
    // a relative path is opened (as Wine does for a link that holds nothing
    // else): one more place for the target, when it is not the one above.
    const std::optional<QString> workingDir = workingDirectory();
    if (!workingDir || !isAbsolute(*workingDir) || isAbsolute(*relative))
        return forms;
    // placeRelative takes the folder of the file it is given.
    const std::optional<QString> placed =
        WinPathText::placeRelative(*relative, joinPath(*workingDir, QStringLiteral(".")));
    if (placed && !(forms.relative && forms.relative->path.compare(*placed, Qt::CaseInsensitive) == 0))
        forms.relativeToWorkingDir = relativeForm(*placed);
    return forms;
}

std::vector<LnkTargetForm> LnkFile::targetForms(bool uncPriority, const QString &shortcutWinPath) const
{
    const Forms forms = collectForms(shortcutWinPath);
    std::vector<LnkTargetForm> out;
    const std::optional<LnkTargetForm> *order[] = {&forms.environment,
                                                   uncPriority ? &forms.network : &forms.local,
                                                   uncPriority ? &forms.local : &forms.network,
                                                   &forms.idList,
                                                   &forms.relative,
                                                   &forms.relativeToWorkingDir};
    for (const std::optional<LnkTargetForm> *form : order) {
        if (*form)
            out.push_back(**form);
    }
    return out;
}

std::optional<QString> LnkFile::targetPath(bool uncPriority, const QString &shortcutWinPath) const
{
    if (linkFlags() & LnkFlag::HasDarwinID)
        return QString();
    const Forms forms = collectForms(shortcutWinPath);
    const auto formed = [](const std::optional<LnkTargetForm> &f) { return f && f->formed; };

    if (formed(forms.environment) && forms.environmentFirst)
        return forms.environment->path;
    const bool network = forms.network && (uncPriority || !forms.local);
    const std::optional<LnkTargetForm> &info = network ? forms.network : forms.local;
    if (info) {
        const bool guess = network ? forms.networkGuess : forms.localGuess;
        return guess && forms.idList ? forms.idList->path : info->path;
    }
    if (forms.idList)
        return forms.idList->path;
    if (formed(forms.environment))
        return forms.environment->path;
    if (forms.relative)
        return forms.relative->path;
    if (forms.relativeToWorkingDir)
        return forms.relativeToWorkingDir->path;
    if (forms.environment)
        return std::nullopt; // only a variable that cannot be expanded
    return QString();
}

LnkFile::Parts LnkFile::parts() const
{
    Parts p;
    auto slice = [this](const Span &s) { return s.present() ? m_bytes.mid(s.offset, s.size) : QByteArray(); };
    p.header = m_bytes.left(kHeaderSize);
    p.idList = slice(m_idList);
    p.linkInfo = slice(m_linkInfo);
    for (int i = 0; i < 5; ++i) {
        if (m_stringSpans[i].present())
            p.strings[i] = slice(m_stringSpans[i]);
    }
    for (const Block &b : m_blocks)
        p.blocks << slice(b.span);
    p.terminal = m_terminal.present() ? slice(m_terminal) : QByteArray(4, '\0');
    p.trailing = slice(m_trailing);
    return p;
}

QByteArray LnkFile::assemble(const Parts &p)
{
    QByteArray header = p.header;
    quint32 flags = ByteReader::loadLe<quint32>(header.constData() + 0x14) & ~kPresenceFlags;
    if (!p.idList.isEmpty())
        flags |= LnkFlag::HasLinkTargetIDList;
    if (!p.linkInfo.isEmpty())
        flags |= LnkFlag::HasLinkInfo;
    for (int i = 0; i < 5; ++i) {
        if (p.strings[i])
            flags |= kStringFlags[i];
    }
    LnkBuilder::putU32(header, 0x14, flags);
    QByteArray out = header + p.idList + p.linkInfo;
    for (const auto &s : p.strings) {
        if (s)
            out += *s;
    }
    for (const QByteArray &b : p.blocks)
        out += b;
    return out + p.terminal + p.trailing;
}

bool LnkFile::setTarget(const LnkTargetInfo &target, const QString &shortcutWinPath)
{
    const auto location = LnkBuilder::parseWinPath(target.winPath);
    if (!location)
        return false;
    Parts p = parts();
    if (location->unc) {
        p.idList.clear();
    } else {
        const auto list = LnkBuilder::idList(*location, target);
        if (!list)
            return false;
        p.idList = *list;
    }
    p.linkInfo = LnkBuilder::linkInfo(*location, target);
    if (p.strings[RelativePathString]) {
        const auto relative = LnkBuilder::relativePath(shortcutWinPath, *location);
        p.strings[RelativePathString].reset();
        if (relative)
            p.strings[RelativePathString] =
                LnkBuilder::stringData(*relative, linkFlags() & LnkFlag::IsUnicode);
    }
    // Blocks that describe the old target would contradict the new one.
    QList<QByteArray> kept;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        switch (m_blocks[i].signature) {
        case LnkBlock::EnvironmentVariable:
        case LnkBlock::Tracker:
        case LnkBlock::SpecialFolder:
        case LnkBlock::KnownFolder:
        case LnkBlock::VistaAndAboveIDList:
            break;
        default:
            kept << p.blocks[static_cast<qsizetype>(i)];
        }
    }
    p.blocks = kept;

    const quint32 flags = linkFlags() & ~(LnkFlag::HasExpString | LnkFlag::PreferEnvironmentPath |
                                          LnkFlag::ForceNoLinkInfo | LnkFlag::PersistVolumeIdRelative);
    const bool directory = target.attributes & 0x10;
    LnkBuilder::putU32(p.header, 0x14, flags);
    LnkBuilder::putU32(p.header, 0x18, target.attributes & ~0x48u); // bits 0x08 and 0x40 must be zero
    LnkBuilder::putU64(p.header, 0x1C, target.creationTime);
    LnkBuilder::putU64(p.header, 0x24, target.accessTime);
    LnkBuilder::putU64(p.header, 0x2C, target.writeTime);
    LnkBuilder::putU32(p.header, 0x34, directory ? 0 : static_cast<quint32>(target.size & 0xFFFFFFFFu));

    auto parsed = parse(assemble(p));
    if (!std::holds_alternative<LnkFile>(parsed))
        return false;
    *this = std::get<LnkFile>(std::move(parsed));
    return true;
}

std::variant<LnkFile, LnkError> LnkFile::create(const LnkTargetInfo &target, const QString &shortcutWinPath,
                                                const LnkCreateOptions &options)
{
    if (!LnkBuilder::parseWinPath(target.winPath))
        return failure("target is not an absolute drive or UNC path", 0);
    Parts p;
    p.header = QByteArray(kHeaderSize, '\0');
    LnkBuilder::putU32(p.header, 0, kHeaderSize);
    p.header.replace(4, 16, QByteArray(reinterpret_cast<const char *>(ShellIds::kShellLink), 16));
    LnkBuilder::putU32(p.header, 0x14, options.unicode ? LnkFlag::IsUnicode : 0);
    LnkBuilder::putU32(p.header, 0x38, static_cast<quint32>(options.iconIndex));
    LnkBuilder::putU32(p.header, 0x3C, options.showCommand);
    p.header[0x40] = static_cast<char>(options.hotKey & 0xFF);
    p.header[0x41] = static_cast<char>(options.hotKey >> 8);

    const std::optional<QString> texts[5] = {
        options.name, options.relativePath ? std::optional<QString>(QStringLiteral(".")) : std::nullopt,
        options.workingDirectory, options.arguments, options.iconLocation};
    for (int i = 0; i < 5; ++i) {
        if (!texts[i])
            continue;
        p.strings[i] = LnkBuilder::stringData(*texts[i], options.unicode);
        if (!p.strings[i])
            return failure("a string does not fit the chosen encoding", 0);
    }
    p.terminal = QByteArray(4, '\0');

    LnkFile link;
    link.m_bytes = assemble(p);
    if (auto error = link.readAll())
        return *error;
    if (!link.setTarget(target, shortcutWinPath))
        return failure("target cannot be stored in a shell link", 0);
    if (!options.environmentTarget && !options.relativePathText && options.extraBlocks.isEmpty() &&
        options.idList && options.linkInfo)
        return link;

    Parts q = link.parts();
    if (!options.idList)
        q.idList.clear();
    if (!options.linkInfo)
        q.linkInfo.clear();
    if (options.relativePathText) {
        q.strings[RelativePathString] = LnkBuilder::stringData(*options.relativePathText, options.unicode);
        if (!q.strings[RelativePathString])
            return failure("a string does not fit the chosen encoding", 0);
    }
    if (options.environmentTarget) {
        if (options.environmentTarget->size() > 259)
            return failure("environment target is longer than 259 characters", 0);
        q.blocks << LnkBuilder::environmentBlock(LnkBlock::EnvironmentVariable, *options.environmentTarget);
        LnkBuilder::putU32(q.header, 0x14, link.linkFlags() | LnkFlag::HasExpString);
    }
    for (const QByteArray &block : options.extraBlocks) {
        if (block.size() < 8 ||
            ByteReader::loadLe<quint32>(block.constData()) != static_cast<quint32>(block.size()))
            return failure("an extra data block's size field does not match its length", 0);
        q.blocks << block;
    }
    return parse(assemble(q));
}
