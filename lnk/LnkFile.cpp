// Reading a shell link file: the structures' places in its bytes, each
// checked against the bounds of what holds it, and the fields read from
// them. What the target's forms make of them is in LnkTargetForms.cpp and
// LnkIdListPath.cpp; changing a link is in LnkRewrite.cpp.

#include "lnk/LnkFile.h"

#include "lnk/AnsiCodec.h"
#include "lnk/ByteReader.h"
#include "lnk/LnkLayout.h"
#include "lnk/LnkReading.h"
#include "lnk/ShellIds.h"

#include <cstring>

using namespace LnkLayout;
using LnkReading::ansiStringIn;
using LnkReading::decodeUtf16;
using LnkReading::Extent;
using LnkReading::failure;
using LnkReading::wideStringIn;

namespace LnkReading {

LnkError failure(const char *what, qint64 offset)
{
    return LnkError{QString::fromLatin1(what), offset};
}

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

} // namespace LnkReading

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
    if (headerSize != Header::Size)
        return failure("header size is not 0x4C", 0);
    if (n < Header::Size)
        return failure("shell link header is truncated", n);
    if (std::memcmp(d + Header::ClassId, ShellIds::kShellLink, sizeof ShellIds::kShellLink) != 0)
        return failure("class id is not the shell link class", Header::ClassId);
    const quint32 flags = linkFlags();
    r.seek(Header::Size);

    if (flags & LnkFlag::HasLinkTargetIDList) {
        const qint64 start = r.pos();
        quint16 listSize = 0;
        if (!r.u16(listSize))
            return failure("IDList size is truncated", start);
        auto list = r.slice(listSize);
        if (!list)
            return failure("IDList runs past the end of the file", start);
        m_idList = {start, static_cast<qint64>(sizeof listSize) + listSize};
        for (;;) {
            const qint64 itemStart = list->fileOffset();
            quint16 itemSize = 0;
            if (!list->u16(itemSize))
                return failure("IDList has no terminal item", itemStart);
            if (itemSize == 0)
                break;
            if (itemSize < sizeof itemSize)
                return failure("ItemID is shorter than its size field", itemStart);
            if (!list->skip(itemSize - sizeof itemSize))
                return failure("ItemID runs past the end of its IDList", itemStart);
            m_items.push_back({itemStart, itemSize});
        }
    }

    if (flags & LnkFlag::HasLinkInfo) {
        const qint64 start = r.pos();
        quint32 infoSize = 0;
        if (!r.peekAt(static_cast<quint64>(start), infoSize))
            return failure("LinkInfo size is truncated", start);
        if (infoSize < LinkInfo::MinHeaderSize)
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
    info.peekAt(LinkInfo::HeaderSizeField, headerSize);
    info.peekAt(LinkInfo::Flags, flags);
    info.peekAt(LinkInfo::VolumeIdOffset, volumeOffset);
    info.peekAt(LinkInfo::LocalBasePathOffset, localOffset);
    info.peekAt(LinkInfo::NetworkLinkOffset, netOffset);
    info.peekAt(LinkInfo::CommonPathSuffixOffset, suffixOffset);
    if (headerSize < LinkInfo::MinHeaderSize || headerSize > size)
        return failure("LinkInfo header size is invalid", offset + LinkInfo::HeaderSizeField);
    quint32 localUnicodeOffset = 0, suffixUnicodeOffset = 0;
    if (headerSize >= LinkInfo::UnicodeHeaderSize) {
        info.peekAt(LinkInfo::LocalBasePathUnicodeOffset, localUnicodeOffset);
        info.peekAt(LinkInfo::CommonPathSuffixUnicodeOffset, suffixUnicodeOffset);
    }
    m_linkInfo = {offset, size};
    m_info = {};
    m_info.flags = flags;
    auto text = [](const std::optional<Extent> &e, bool unicode) {
        return e ? Text{e->first, e->second, unicode} : Text{};
    };

    if (flags & LnkInfoFlag::VolumeIDAndLocalBasePath) {
        quint32 volumeSize = 0;
        if (!info.peekAt(volumeOffset, volumeSize) || volumeSize < VolumeId::MinSize ||
            static_cast<quint64>(volumeSize) > static_cast<quint64>(size) - volumeOffset)
            return failure("VolumeID is invalid", offset + LinkInfo::VolumeIdOffset);
        const ByteReader volume(d + offset + volumeOffset, volumeSize, offset + volumeOffset);
        quint32 labelOffset = 0;
        volume.peekAt(VolumeId::DriveType, m_info.driveType);
        volume.peekAt(VolumeId::SerialNumber, m_info.serial);
        volume.peekAt(VolumeId::LabelOffset, labelOffset);
        m_info.hasVolume = true;
        // The label does not take part in the target, so a bad one is
        // simply left out.
        quint32 labelUnicodeOffset = 0;
        if (labelOffset == VolumeId::UnicodeLabelMark &&
            volume.peekAt(VolumeId::LabelUnicodeOffset, labelUnicodeOffset))
            m_info.label = text(wideStringIn(volume, labelUnicodeOffset), true);
        else
            m_info.label = text(ansiStringIn(volume, labelOffset), false);

        const auto local = ansiStringIn(info, localOffset);
        if (!local)
            return failure("local base path is invalid", offset + LinkInfo::LocalBasePathOffset);
        m_info.localAnsi = text(local, false);
        if (localUnicodeOffset) {
            const auto wide = wideStringIn(info, localUnicodeOffset);
            if (!wide)
                return failure("Unicode local base path is invalid",
                               offset + LinkInfo::LocalBasePathUnicodeOffset);
            m_info.localUnicode = text(wide, true);
        }
    }

    if (flags & LnkInfoFlag::CommonNetworkRelativeLinkAndPathSuffix) {
        quint32 netSize = 0;
        if (!info.peekAt(netOffset, netSize) || netSize < NetworkLink::MinSize ||
            static_cast<quint64>(netSize) > static_cast<quint64>(size) - netOffset)
            return failure("CommonNetworkRelativeLink is invalid", offset + LinkInfo::NetworkLinkOffset);
        const ByteReader net(d + offset + netOffset, netSize, offset + netOffset);
        quint32 netFlags = 0, nameOffset = 0, deviceOffset = 0;
        net.peekAt(NetworkLink::Flags, netFlags);
        net.peekAt(NetworkLink::NetNameOffset, nameOffset);
        net.peekAt(NetworkLink::DeviceNameOffset, deviceOffset);
        const auto name = ansiStringIn(net, nameOffset);
        if (!name)
            return failure("net name is invalid", offset + netOffset + NetworkLink::NetNameOffset);
        m_info.netAnsi = text(name, false);
        if (netFlags & LnkNetFlag::ValidDevice) {
            const auto device = ansiStringIn(net, deviceOffset);
            if (!device)
                return failure("device name is invalid", offset + netOffset + NetworkLink::DeviceNameOffset);
            m_info.deviceAnsi = text(device, false);
        }
        quint32 nameUnicodeOffset = 0, deviceUnicodeOffset = 0;
        if (nameOffset > NetworkLink::MinSize &&
            net.peekAt(NetworkLink::NetNameUnicodeOffset, nameUnicodeOffset) &&
            net.peekAt(NetworkLink::DeviceNameUnicodeOffset, deviceUnicodeOffset)) {
            if (nameUnicodeOffset) {
                const auto wide = wideStringIn(net, nameUnicodeOffset);
                if (!wide)
                    return failure("Unicode net name is invalid",
                                   offset + netOffset + NetworkLink::NetNameUnicodeOffset);
                m_info.netUnicode = text(wide, true);
            }
            if ((netFlags & LnkNetFlag::ValidDevice) && deviceUnicodeOffset) {
                const auto wide = wideStringIn(net, deviceUnicodeOffset);
                if (!wide)
                    return failure("Unicode device name is invalid",
                                   offset + netOffset + NetworkLink::DeviceNameUnicodeOffset);
                m_info.deviceUnicode = text(wide, true);
            }
        }
    }

    if (suffixOffset) {
        const auto suffix = ansiStringIn(info, suffixOffset);
        if (!suffix)
            return failure("common path suffix is invalid", offset + LinkInfo::CommonPathSuffixOffset);
        m_info.suffixAnsi = text(suffix, false);
    }
    if (suffixUnicodeOffset) {
        const auto wide = wideStringIn(info, suffixUnicodeOffset);
        if (!wide)
            return failure("Unicode common path suffix is invalid",
                           offset + LinkInfo::CommonPathSuffixUnicodeOffset);
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
    for (int i = 0; i < static_cast<int>(std::size(StringFlags)); ++i) {
        if (!(flags & StringFlags[i]) && !(i == RelativePathString && withRelative))
            continue;
        const qint64 start = r.pos();
        quint16 count = 0;
        if (!r.u16(count))
            return failure("string length is truncated", start);
        const quint64 bytes = static_cast<quint64>(count) * (unicode ? 2u : 1u);
        if (!r.skip(bytes))
            return failure("string runs past the end of the file", start);
        m_stringSpans[i] = {start, static_cast<qint64>(sizeof count + bytes)};
        m_strings[i] = {start + static_cast<qint64>(sizeof count), static_cast<qint64>(bytes), unicode};
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
        if (blockSize < ExtraBlock::TerminalSize) {
            m_terminal = {start, ExtraBlock::TerminalSize};
            if (!r.atEnd())
                m_trailing = {r.pos(), r.remaining()};
            return std::nullopt;
        }
        if (blockSize < ExtraBlock::HeaderSize)
            return failure("extra data block is smaller than its header", start);
        r.seek(static_cast<quint64>(start));
        const auto block = r.slice(blockSize);
        if (!block)
            return failure("extra data block runs past the end of the file", start);
        quint32 signature = 0;
        block->peekAt(ExtraBlock::SignatureField, signature);
        m_blocks.push_back({{start, static_cast<qint64>(blockSize)}, signature});
    }
}

quint32 LnkFile::linkFlags() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + Header::LinkFlags);
}

quint32 LnkFile::fileAttributes() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + Header::FileAttributes);
}

quint64 LnkFile::creationTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + Header::CreationTime);
}

quint64 LnkFile::accessTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + Header::AccessTime);
}

quint64 LnkFile::writeTime() const
{
    return ByteReader::loadLe<quint64>(m_bytes.constData() + Header::WriteTime);
}

quint32 LnkFile::fileSize() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + Header::FileSize);
}

qint32 LnkFile::iconIndex() const
{
    return static_cast<qint32>(ByteReader::loadLe<quint32>(m_bytes.constData() + Header::IconIndex));
}

quint32 LnkFile::showCommand() const
{
    return ByteReader::loadLe<quint32>(m_bytes.constData() + Header::ShowCommand);
}

quint16 LnkFile::hotKey() const
{
    return ByteReader::loadLe<quint16>(m_bytes.constData() + Header::HotKey);
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
    if (!block || block->span.size < EnvironmentBlock::Size)
        return std::nullopt;
    const qint64 at = block->span.offset;
    const QString wide = text(Text{at + EnvironmentBlock::Unicode, EnvironmentBlock::UnicodeSize, true});
    if (!wide.isEmpty())
        return wide;
    return text(Text{at + EnvironmentBlock::Ansi, EnvironmentBlock::AnsiSize, false});
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
    if (!block || block->span.size < TrackerBlock::Size)
        return std::nullopt;
    const QByteArray b = m_bytes.mid(block->span.offset, TrackerBlock::Size);
    const auto field = [&](qint64 at) { return b.mid(at, TrackerBlock::FieldSize); };
    LnkTracker t;
    t.machineId = field(TrackerBlock::MachineId);
    const qsizetype nul = t.machineId.indexOf('\0');
    if (nul >= 0)
        t.machineId.truncate(nul);
    t.droidVolume = field(TrackerBlock::DroidVolume);
    t.droidObject = field(TrackerBlock::DroidObject);
    t.birthVolume = field(TrackerBlock::BirthVolume);
    t.birthObject = field(TrackerBlock::BirthObject);
    return t;
}
