// Changing a link: its structures as separate pieces of bytes, those that
// concern the target built anew, and the pieces joined again with the
// header's flags made to agree. Every other piece keeps its bytes.

#include "lnk/LnkFile.h"

#include "lnk/ByteReader.h"
#include "lnk/LnkBuilder.h"
#include "lnk/LnkLayout.h"
#include "lnk/LnkReading.h"
#include "lnk/ShellIds.h"

#include <utility>

using namespace LnkLayout;
using LnkReading::failure;

namespace {

// The flags that say which structures are there, set from the pieces.
constexpr quint32 kPresenceFlags = LnkFlag::HasLinkTargetIDList | LnkFlag::HasLinkInfo | LnkFlag::HasName |
                                   LnkFlag::HasRelativePath | LnkFlag::HasWorkingDir | LnkFlag::HasArguments |
                                   LnkFlag::HasIconLocation;
constexpr quint32 kDirectoryAttribute = 0x10; // FILE_ATTRIBUTE_DIRECTORY
// Attribute bits a link's header must keep zero (0x08 and 0x40).
constexpr quint32 kReservedAttributes = 0x48;

QByteArray terminalBlock()
{
    return QByteArray(ExtraBlock::TerminalSize, '\0');
}

} // namespace

struct LnkFile::Parts
{
    QByteArray header;
    QByteArray idList;   // with its size field; empty = absent
    QByteArray linkInfo; // empty = absent
    std::array<std::optional<QByteArray>, std::size(StringFlags)> strings;
    QList<QByteArray> blocks;
    QByteArray terminal;
    QByteArray trailing;
};

QByteArray LnkFile::serialize() const
{
    return m_bytes;
}

LnkFile::Parts LnkFile::parts() const
{
    Parts p;
    auto slice = [this](const Span &s) { return s.present() ? m_bytes.mid(s.offset, s.size) : QByteArray(); };
    p.header = m_bytes.left(Header::Size);
    p.idList = slice(m_idList);
    p.linkInfo = slice(m_linkInfo);
    for (size_t i = 0; i < p.strings.size(); ++i) {
        if (m_stringSpans[i].present())
            p.strings[i] = slice(m_stringSpans[i]);
    }
    for (const Block &b : m_blocks)
        p.blocks << slice(b.span);
    p.terminal = m_terminal.present() ? slice(m_terminal) : terminalBlock();
    p.trailing = slice(m_trailing);
    return p;
}

QByteArray LnkFile::assemble(const Parts &p)
{
    QByteArray header = p.header;
    quint32 flags = ByteReader::loadLe<quint32>(header.constData() + Header::LinkFlags) & ~kPresenceFlags;
    if (!p.idList.isEmpty())
        flags |= LnkFlag::HasLinkTargetIDList;
    if (!p.linkInfo.isEmpty())
        flags |= LnkFlag::HasLinkInfo;
    for (size_t i = 0; i < p.strings.size(); ++i) {
        if (p.strings[i])
            flags |= StringFlags[i];
    }
    LnkBuilder::putU32(header, Header::LinkFlags, flags);
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
    const bool directory = target.attributes & kDirectoryAttribute;
    LnkBuilder::putU32(p.header, Header::LinkFlags, flags);
    LnkBuilder::putU32(p.header, Header::FileAttributes, target.attributes & ~kReservedAttributes);
    LnkBuilder::putU64(p.header, Header::CreationTime, target.creationTime);
    LnkBuilder::putU64(p.header, Header::AccessTime, target.accessTime);
    LnkBuilder::putU64(p.header, Header::WriteTime, target.writeTime);
    LnkBuilder::putU32(p.header, Header::FileSize,
                       directory ? 0 : static_cast<quint32>(target.size & 0xFFFFFFFFu));

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
    p.header = QByteArray(Header::Size, '\0');
    LnkBuilder::putU32(p.header, 0, Header::Size);
    p.header.replace(
        Header::ClassId, sizeof ShellIds::kShellLink,
        QByteArray(reinterpret_cast<const char *>(ShellIds::kShellLink), sizeof ShellIds::kShellLink));
    LnkBuilder::putU32(p.header, Header::LinkFlags, options.unicode ? LnkFlag::IsUnicode : 0);
    LnkBuilder::putU32(p.header, Header::IconIndex, static_cast<quint32>(options.iconIndex));
    LnkBuilder::putU32(p.header, Header::ShowCommand, options.showCommand);
    p.header[Header::HotKey] = static_cast<char>(options.hotKey & 0xFF);
    p.header[Header::HotKey + 1] = static_cast<char>(options.hotKey >> 8);

    const std::optional<QString> texts[5] = {
        options.name, options.relativePath ? std::optional<QString>(QStringLiteral(".")) : std::nullopt,
        options.workingDirectory, options.arguments, options.iconLocation};
    for (size_t i = 0; i < p.strings.size(); ++i) {
        if (!texts[i])
            continue;
        p.strings[i] = LnkBuilder::stringData(*texts[i], options.unicode);
        if (!p.strings[i])
            return failure("a string does not fit the chosen encoding", 0);
    }
    p.terminal = terminalBlock();

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
        if (options.environmentTarget->size() >= EnvironmentBlock::AnsiSize)
            return failure("environment target is longer than 259 characters", 0);
        q.blocks << LnkBuilder::environmentBlock(LnkBlock::EnvironmentVariable, *options.environmentTarget);
        LnkBuilder::putU32(q.header, Header::LinkFlags, link.linkFlags() | LnkFlag::HasExpString);
    }
    for (const QByteArray &block : options.extraBlocks) {
        if (block.size() < ExtraBlock::HeaderSize ||
            ByteReader::loadLe<quint32>(block.constData()) != static_cast<quint32>(block.size()))
            return failure("an extra data block's size field does not match its length", 0);
        q.blocks << block;
    }
    return parse(assemble(q));
}
