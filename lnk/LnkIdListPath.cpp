// A link's IDList read as a path: My Computer, a drive and file entries by
// their long names, or a known folder's place and the file entries below it.

#include "lnk/LnkFile.h"

#include "lnk/AnsiCodec.h"
#include "lnk/ByteReader.h"
#include "lnk/FileTime.h"
#include "lnk/LnkLayout.h"
#include "lnk/LnkReading.h"
#include "lnk/ShellIds.h"
#include "lnk/WinVariables.h"

#include <cstring>

using namespace LnkLayout;
using LnkReading::ansiStringIn;
using LnkReading::decodeUtf16;
using LnkReading::wideStringIn;

// The long name of a file entry item: from its BEEF0004 extension block
// (located by the offset in the item's last two bytes, as Windows and Wine
// both store it, or else by walking the blocks after the primary name),
// else the primary name. Wine writes the block with zeros where Windows
// has the version and signature; its long name sits where version 3 has it.
QString LnkFile::fileEntryName(const Span &item) const
{
    const ByteReader it(m_bytes.constData() + item.offset, item.size, item.offset);
    auto longName = [&](quint64 at, quint64 blockSize, bool allowWine) -> std::optional<QString> {
        if ((at & 1) || at < Item::FileEntryName || at > static_cast<quint64>(item.size) ||
            blockSize < Beef0004::MinSize || blockSize > static_cast<quint64>(item.size) - at)
            return std::nullopt;
        quint16 version = 0;
        quint32 signature = 0;
        it.peekAt(at + Beef0004::VersionField, version);
        it.peekAt(at + Beef0004::SignatureField, signature);
        quint64 nameAt = 0;
        if (signature == Beef0004::Signature && version >= 3)
            nameAt = version >= 9   ? Beef0004::NameFromVersion9
                     : version == 8 ? Beef0004::NameInVersion8
                     : version == 7 ? Beef0004::NameInVersion7
                                    : Beef0004::NameFromVersion3;
        else if (allowWine && signature == 0 && version == 0)
            nameAt = Beef0004::NameFromVersion3;
        else
            return std::nullopt;
        // The block ends with the two-byte offset, which the name stops before.
        const ByteReader block(it.data() + at, static_cast<qint64>(blockSize - sizeof(quint16)),
                               it.base() + static_cast<qint64>(at));
        const auto name = wideStringIn(block, nameAt);
        if (!name || name->second == 0)
            return std::nullopt;
        return decodeUtf16(m_bytes.constData() + name->first, name->second);
    };

    quint8 type = 0;
    it.peekAt(Item::Type, type);
    QString primary;
    quint64 primaryEnd = Item::FileEntryName;
    if (type & Item::FileEntryUnicode) {
        if (const auto e = wideStringIn(it, Item::FileEntryName)) {
            primary = decodeUtf16(m_bytes.constData() + e->first, e->second);
            primaryEnd = Item::FileEntryName + static_cast<quint64>(e->second) + 2;
        }
    } else if (const auto e = ansiStringIn(it, Item::FileEntryName)) {
        primary = AnsiCodec::decodeAnsi(m_bytes.constData() + e->first, e->second);
        primaryEnd = Item::FileEntryName + static_cast<quint64>(e->second) + 1;
    }

    quint16 extOffset = 0;
    quint16 extSize = 0;
    if (item.size >= 2 && it.peekAt(static_cast<quint64>(item.size) - sizeof extOffset, extOffset) &&
        it.peekAt(extOffset, extSize) && extOffset + static_cast<qint64>(extSize) == item.size) {
        if (auto name = longName(extOffset, extSize, true))
            return *name;
    }
    for (quint64 at = (primaryEnd + 1) & ~quint64(1);
         at + Beef0004::HeaderSize <= static_cast<quint64>(item.size);) {
        quint16 blockSize = 0;
        quint32 signature = 0;
        it.peekAt(at, blockSize);
        it.peekAt(at + Beef0004::SignatureField, signature);
        if (blockSize < Beef0004::HeaderSize || blockSize > static_cast<quint64>(item.size) - at)
            break;
        if (signature == Beef0004::Signature) {
            if (auto name = longName(at, blockSize, false))
                return *name;
            break;
        }
        at += blockSize;
    }
    return primary;
}

std::optional<LnkFile::ItemFacts> LnkFile::targetItemFacts() const
{
    if (m_items.empty())
        return std::nullopt;
    const Span &item = m_items.back();
    const ByteReader it(m_bytes.constData() + item.offset, item.size, item.offset);
    quint8 type = 0;
    quint16 date = 0, time = 0;
    ItemFacts facts;
    if (!it.peekAt(Item::Type, type) || (type & Item::GroupMask) != Item::FileEntryGroup ||
        !it.peekAt(Item::FileEntrySize, facts.size) || !it.peekAt(Item::FileEntryWriteDate, date) ||
        !it.peekAt(Item::FileEntryWriteTime, time))
        return std::nullopt;
    facts.writeTime = FileTime::fromFat(date, time);
    // The extension block, where its offset in the item's last two bytes
    // says, with Windows' signature.
    quint16 extOffset = 0, extSize = 0;
    quint32 signature = 0;
    if (item.size >= 2 && it.peekAt(static_cast<quint64>(item.size) - sizeof extOffset, extOffset) &&
        it.peekAt(extOffset, extSize) && extOffset + static_cast<qint64>(extSize) == item.size &&
        extSize >= Beef0004::MinSize && it.peekAt(extOffset + Beef0004::SignatureField, signature) &&
        signature == Beef0004::Signature) {
        if (it.peekAt(extOffset + Beef0004::CreationDate, date) &&
            it.peekAt(extOffset + Beef0004::CreationTime, time))
            facts.creationTime = FileTime::fromFat(date, time);
        if (it.peekAt(extOffset + Beef0004::AccessDate, date) &&
            it.peekAt(extOffset + Beef0004::AccessTime, time))
            facts.accessTime = FileTime::fromFat(date, time);
    }
    return facts;
}

// Appends the names of the file entries from item `first` on; nothing when
// one of them is not a file entry.
std::optional<QString> LnkFile::fileEntriesFrom(QString path, size_t first) const
{
    const char *d = m_bytes.constData();
    for (size_t i = first; i < m_items.size(); ++i) {
        const Span &item = m_items[i];
        if (item.size <= Item::Type ||
            (static_cast<quint8>(d[item.offset + Item::Type]) & Item::GroupMask) != Item::FileEntryGroup)
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
    if (root.size < Item::RootMinSize || static_cast<quint8>(d[root.offset + Item::Type]) != Item::RootType ||
        std::memcmp(d + root.offset + Item::RootClassId, ShellIds::kMyComputer,
                    sizeof ShellIds::kMyComputer) != 0)
        return folderRelativePath();
    const Span &drive = m_items[1];
    if (drive.size < Item::DriveMinSize ||
        (static_cast<quint8>(d[drive.offset + Item::Type]) & Item::GroupMask) != Item::DriveGroup)
        return folderRelativePath();
    const char letter = d[drive.offset + Item::DriveLetter];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) ||
        d[drive.offset + Item::DriveColon] != ':')
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
    const qint64 listStart = m_idList.offset + static_cast<qint64>(sizeof(quint16)); // after its size
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
    if (const Block *b = findBlock(LnkBlock::KnownFolder); b && b->span.size >= KnownFolderBlock::MinSize) {
        const qint64 at = b->span.offset;
        const auto folder = WinVariables::knownFolder(m_bytes.mid(at + KnownFolderBlock::FolderId, 16));
        if (auto path = from(folder, ByteReader::loadLe<quint32>(d + at + KnownFolderBlock::ItemOffset)))
            return path;
    }
    if (const Block *b = findBlock(LnkBlock::SpecialFolder);
        b && b->span.size >= SpecialFolderBlock::MinSize) {
        const qint64 at = b->span.offset;
        const auto folder =
            WinVariables::specialFolder(ByteReader::loadLe<quint32>(d + at + SpecialFolderBlock::FolderId));
        if (auto path = from(folder, ByteReader::loadLe<quint32>(d + at + SpecialFolderBlock::ItemOffset)))
            return path;
    }
    return std::nullopt;
}
