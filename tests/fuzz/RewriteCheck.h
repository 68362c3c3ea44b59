#pragma once

// The property the shortcut rewrite fuzz target checks, shared with the
// regression test that replays the inputs that once broke it: load a link,
// point it at a target taken from the input (RewriteInput.h), write it back
// and load the result. The result must load, must give the new target, and
// every structure the change does not concern must come back byte for byte:
// the header's show command, icon index, hot key and reserved bytes, every
// flag bit but the ones the change owns, the name, working folder, arguments
// and icon location, every extra data block but the five that describe the
// old target, the terminal block and anything after it. A target the codec
// refuses must leave the link exactly as it was.

#include "RewriteInput.h"

#include "lnk/LnkBuilder.h"
#include "lnk/LnkFile.h"

#include <QList>

#include <array>
#include <cstdint>
#include <optional>

namespace RewriteCheck {

inline quint32 u32At(const QByteArray &b, qsizetype at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16 |
           quint32(quint8(b[at + 3])) << 24;
}

inline quint64 u64At(const QByteArray &b, qsizetype at)
{
    return quint64(u32At(b, at)) | quint64(u32At(b, at + 4)) << 32;
}

// A link cut into its structures, by a reader of its own that only has to
// follow the sizes of a file the codec has already accepted.
struct Cut
{
    QByteArray header;
    std::array<std::optional<QByteArray>, 5> strings; // with their counts
    QList<QByteArray> blocks;                         // complete blocks
    QByteArray end;                                   // terminal block and what follows
};

inline Cut cut(const QByteArray &b, bool relativeWithoutFlag)
{
    Cut out;
    out.header = b.left(0x4C);
    const quint32 flags = u32At(b, 0x14);
    qsizetype pos = 0x4C;
    if (flags & LnkFlag::HasLinkTargetIDList)
        pos += 2 + qsizetype(quint8(b[pos])) + (qsizetype(quint8(b[pos + 1])) << 8);
    if (flags & LnkFlag::HasLinkInfo)
        pos += qsizetype(u32At(b, pos));
    const quint32 stringFlags[5] = {LnkFlag::HasName, LnkFlag::HasRelativePath, LnkFlag::HasWorkingDir,
                                    LnkFlag::HasArguments, LnkFlag::HasIconLocation};
    const qsizetype unit = (flags & LnkFlag::IsUnicode) ? 2 : 1;
    for (int i = 0; i < 5; ++i) {
        if (!(flags & stringFlags[i]) && !(i == 1 && relativeWithoutFlag))
            continue;
        const qsizetype count = qsizetype(quint8(b[pos])) + (qsizetype(quint8(b[pos + 1])) << 8);
        out.strings[size_t(i)] = b.mid(pos, 2 + count * unit);
        pos += 2 + count * unit;
    }
    while (pos + 4 <= b.size()) {
        const quint32 size = u32At(b, pos);
        if (size < 4)
            break;
        out.blocks << b.mid(pos, qsizetype(size));
        pos += qsizetype(size);
    }
    out.end = b.mid(pos);
    return out;
}

inline bool describesTarget(const QByteArray &block)
{
    switch (u32At(block, 4)) {
    case LnkBlock::EnvironmentVariable:
    case LnkBlock::Tracker:
    case LnkBlock::SpecialFolder:
    case LnkBlock::KnownFolder:
    case LnkBlock::VistaAndAboveIDList:
        return true;
    default:
        return false;
    }
}

// The flag bits setTarget may change; every other bit must stay.
constexpr quint32 kTargetFlags =
    LnkFlag::HasLinkTargetIDList | LnkFlag::HasLinkInfo | LnkFlag::HasRelativePath | LnkFlag::HasExpString |
    LnkFlag::PreferEnvironmentPath | LnkFlag::ForceNoLinkInfo | LnkFlag::PersistVolumeIdRelative;

// What went wrong with one input; nullptr when nothing did (inputs that are
// no link are passed over).
inline const char *rewriteFault(const uint8_t *data, size_t size)
{
    const std::optional<RewriteInput::Decoded> input = RewriteInput::decode(data, size);
    if (!input)
        return nullptr;
    auto parsed = LnkFile::parse(input->link);
    auto *link = std::get_if<LnkFile>(&parsed);
    if (!link)
        return nullptr;
    const QByteArray before = link->serialize();
    if (before != input->link)
        return "an unchanged link does not write back its own bytes";
    const bool relativeWithoutFlag = link->relativePathWithoutFlag();

    const std::optional<LnkBuilder::WinLocation> location = LnkBuilder::parseWinPath(input->target.winPath);
    LnkFile changed = *link;
    if (!changed.setTarget(input->target, input->shortcutWinPath)) {
        // Only a target no link can hold may be refused (every path made
        // from a short input fits the format's sizes).
        if (location)
            return "a valid target was refused";
        if (changed.serialize() != before)
            return "a refused target changed the link";
        return nullptr;
    }
    if (!location)
        return "a target no link can hold was accepted";

    // Written back and loaded again.
    const QByteArray after = changed.serialize();
    auto again = LnkFile::parse(after);
    auto *reread = std::get_if<LnkFile>(&again);
    if (!reread)
        return "the rewritten link does not load";
    if (reread->serialize() != after)
        return "the rewritten link does not write back its own bytes";

    // It gives the new target, in both forms.
    const QString expected = (reread->linkFlags() & LnkFlag::HasDarwinID) ? QString() : location->path();
    if (reread->targetPath(true) != expected)
        return "the rewritten link does not give the new target (UNC form)";
    if (reread->targetPath(false) != expected)
        return "the rewritten link does not give the new target";

    // The header records the new target's facts and keeps everything else.
    const Cut old = cut(before, relativeWithoutFlag);
    const Cut now = cut(after, false);
    if (old.header.left(0x14) != now.header.left(0x14))
        return "header size or class id changed";
    if (old.header.mid(0x38) != now.header.mid(0x38))
        return "icon index, show command, hot key or reserved changed";
    const quint32 oldFlags = u32At(old.header, 0x14);
    const quint32 newFlags = u32At(now.header, 0x14);
    if ((oldFlags & ~kTargetFlags) != (newFlags & ~kTargetFlags))
        return "an unrelated flag bit changed";
    if (newFlags & (LnkFlag::HasExpString | LnkFlag::PreferEnvironmentPath | LnkFlag::ForceNoLinkInfo |
                    LnkFlag::PersistVolumeIdRelative))
        return "a flag that refers to the old target is still set";
    if (!(newFlags & LnkFlag::HasLinkInfo))
        return "the rewritten link has no LinkInfo";
    if (bool(newFlags & LnkFlag::HasLinkTargetIDList) == location->unc)
        return "IDList presence is wrong";
    if (u32At(now.header, 0x18) != (input->target.attributes & ~0x48u))
        return "attributes not recorded";
    if (u64At(now.header, 0x1C) != input->target.creationTime)
        return "creation time not recorded";
    if (u64At(now.header, 0x24) != input->target.accessTime)
        return "access time not recorded";
    if (u64At(now.header, 0x2C) != input->target.writeTime)
        return "write time not recorded";
    const quint32 recorded =
        (input->target.attributes & 0x10) ? 0 : quint32(input->target.size & 0xFFFFFFFFu);
    if (u32At(now.header, 0x34) != recorded)
        return "size not recorded";

    // Strings: every one but the relative path byte for byte; a relative
    // path only where there was one.
    for (size_t i = 0; i < 5; ++i) {
        if (i == 1 && now.strings[1] && !old.strings[1])
            return "a relative path appeared";
        if (i != 1 && old.strings[i] != now.strings[i])
            return "an unrelated string changed";
    }
    // Extra data: the blocks that do not describe the target, in order, byte
    // for byte; then the same terminal block (one is added where the file
    // ended without it) and trailing bytes.
    QList<QByteArray> kept;
    for (const QByteArray &block : old.blocks) {
        if (!describesTarget(block))
            kept << block;
    }
    if (kept != now.blocks)
        return "an unrelated extra data block changed";
    if (now.end != (old.end.isEmpty() ? QByteArray(4, '\0') : old.end))
        return "terminal block or trailer changed";

    // Changing to the same target again gives the same bytes.
    LnkFile twice = *reread;
    if (!twice.setTarget(input->target, input->shortcutWinPath))
        return "the same target was refused the second time";
    if (twice.serialize() != after)
        return "setting the same target twice gives different bytes";
    return nullptr;
}

} // namespace RewriteCheck
