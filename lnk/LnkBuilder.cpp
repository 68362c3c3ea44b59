#include "lnk/LnkBuilder.h"

#include "lnk/AnsiCodec.h"
#include "lnk/FileTime.h"
#include "lnk/ShellIds.h"

#include <chrono>

namespace {

constexpr quint32 kBeef0004 = 0xBEEF0004;
constexpr quint32 kDirectory = 0x10;
constexpr quint32 kWnncNetLanman = 0x00020000;

// The Windows-1252 form of a text that a reader gets back as the same text:
// readers take ANSI bytes that form valid multi-byte UTF-8 for UTF-8
// (AnsiCodec::decodeAnsi), so "\u00df\u00a0" (bytes DF A0) has none. Nothing
// when there is no such form; the text then needs its Unicode copy.
std::optional<QByteArray> exactAnsi(const QString &text)
{
    auto bytes = AnsiCodec::encodeCp1252(text);
    if (bytes && AnsiCodec::decodeAnsi(*bytes) != text)
        return std::nullopt;
    return bytes;
}

bool validName(const QString &name)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == u'<' || u == u'>' || u == u':' || u == u'"' || u == u'/' || u == u'|' ||
            u == u'?' || u == u'*')
            return false;
    }
    return true;
}

void appendUtf16(QByteArray &out, const QString &text)
{
    for (QChar c : text)
        LnkBuilder::appendU16(out, c.unicode());
}

void padEven(QByteArray &out)
{
    if (out.size() % 2)
        out.append('\0');
}

// An 8.3 alias for a long name that has no Windows-1252 form, as Windows
// stores in the primary name slot ("TESTAN~1.TXT").
QByteArray shortAlias(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    auto keep = [](QStringView part, qsizetype max) {
        QByteArray out;
        for (QChar c : part) {
            const char16_t u = c.unicode();
            if (out.size() >= max)
                break;
            if ((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || u == u'_' || u == u'-')
                out.append(static_cast<char>(u));
            else if (u >= u'a' && u <= u'z')
                out.append(static_cast<char>(u - u'a' + u'A'));
        }
        return out;
    };
    QByteArray base = keep(dot > 0 ? QStringView(name).left(dot) : QStringView(name), 6);
    if (base.isEmpty())
        base = "FILE";
    QByteArray alias = base + "~1";
    const QByteArray ext = dot > 0 ? keep(QStringView(name).mid(dot + 1), 3) : QByteArray();
    if (!ext.isEmpty())
        alias += '.' + ext;
    return alias;
}

// A file entry item (0x31 folder, 0x32 file) with a version-3 BEEF0004 block.
std::optional<QByteArray> fileEntry(const QString &name, bool directory, quint32 size, quint16 attributes,
                                    quint64 writeTime, quint64 creationTime, quint64 accessTime)
{
    QByteArray item;
    LnkBuilder::appendU16(item, 0); // size, set below
    item.append(static_cast<char>(directory ? 0x31 : 0x32));
    item.append('\0');
    LnkBuilder::appendU32(item, directory ? 0 : size);
    const auto [wDate, wTime] = LnkBuilder::fatDateTime(writeTime);
    LnkBuilder::appendU16(item, wDate);
    LnkBuilder::appendU16(item, wTime);
    LnkBuilder::appendU16(item, attributes);
    const auto primary = AnsiCodec::encodeCp1252(name);
    item.append(primary ? *primary : shortAlias(name));
    item.append('\0');
    padEven(item);

    const qsizetype extOffset = item.size();
    const qsizetype extSize = 20 + 2 * (name.size() + 1) + 2;
    LnkBuilder::appendU16(item, static_cast<quint16>(extSize));
    LnkBuilder::appendU16(item, 3);
    LnkBuilder::appendU32(item, kBeef0004);
    const auto [cDate, cTime] = LnkBuilder::fatDateTime(creationTime);
    const auto [aDate, aTime] = LnkBuilder::fatDateTime(accessTime);
    LnkBuilder::appendU16(item, cDate);
    LnkBuilder::appendU16(item, cTime);
    LnkBuilder::appendU16(item, aDate);
    LnkBuilder::appendU16(item, aTime);
    LnkBuilder::appendU16(item, 0x14); // the value version-3 blocks carry here
    LnkBuilder::appendU16(item, 0);    // no localized name
    appendUtf16(item, name);
    LnkBuilder::appendU16(item, 0);
    LnkBuilder::appendU16(item, static_cast<quint16>(extOffset));
    if (item.size() > 0xFFFF || extSize > 0xFFFF)
        return std::nullopt;
    item[0] = static_cast<char>(item.size() & 0xFF);
    item[1] = static_cast<char>((item.size() >> 8) & 0xFF);
    return item;
}

// VolumeID: size, drive type, serial, label offset, label (ANSI, or Unicode
// behind offset 0x14 when it has no Windows-1252 form).
QByteArray volumeId(const LnkTargetInfo &info)
{
    QByteArray vol;
    const auto ansiLabel = AnsiCodec::encodeCp1252(info.volumeLabel);
    if (ansiLabel && !ansiLabel->contains('\0')) {
        LnkBuilder::appendU32(vol, static_cast<quint32>(0x10 + ansiLabel->size() + 1));
        LnkBuilder::appendU32(vol, info.driveType);
        LnkBuilder::appendU32(vol, info.driveSerial);
        LnkBuilder::appendU32(vol, 0x10);
        vol.append(*ansiLabel);
        vol.append('\0');
    } else {
        LnkBuilder::appendU32(vol, static_cast<quint32>(0x14 + 2 * (info.volumeLabel.size() + 1)));
        LnkBuilder::appendU32(vol, info.driveType);
        LnkBuilder::appendU32(vol, info.driveSerial);
        LnkBuilder::appendU32(vol, 0x14);
        LnkBuilder::appendU32(vol, 0x14);
        appendUtf16(vol, info.volumeLabel);
        LnkBuilder::appendU16(vol, 0);
    }
    return vol;
}

} // namespace

namespace LnkBuilder {

void appendU16(QByteArray &out, quint16 v)
{
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

void appendU32(QByteArray &out, quint32 v)
{
    appendU16(out, static_cast<quint16>(v & 0xFFFF));
    appendU16(out, static_cast<quint16>(v >> 16));
}

void appendU64(QByteArray &out, quint64 v)
{
    appendU32(out, static_cast<quint32>(v & 0xFFFFFFFFu));
    appendU32(out, static_cast<quint32>(v >> 32));
}

void putU32(QByteArray &out, qsizetype pos, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putU64(QByteArray &out, qsizetype pos, quint64 v)
{
    putU32(out, pos, static_cast<quint32>(v & 0xFFFFFFFFu));
    putU32(out, pos + 4, static_cast<quint32>(v >> 32));
}

QString WinLocation::path() const
{
    QString out = root;
    if (!unc && components.isEmpty())
        return out + QLatin1Char('\\');
    for (const QString &c : components)
        out += QLatin1Char('\\') + c;
    return out;
}

std::optional<WinLocation> parseWinPath(const QString &winPath)
{
    WinLocation loc;
    if (winPath.startsWith(QLatin1String("\\\\"))) {
        const QStringList parts = winPath.mid(2).split(QLatin1Char('\\'));
        if (parts.size() < 2 || parts[0].isEmpty() || parts[1].isEmpty() || !validName(parts[0]) ||
            !validName(parts[1]))
            return std::nullopt;
        loc.unc = true;
        loc.root = QLatin1String("\\\\") + parts[0] + QLatin1Char('\\') + parts[1];
        for (qsizetype i = 2; i < parts.size(); ++i) {
            if (parts[i].isEmpty())
                continue;
            if (!validName(parts[i]))
                return std::nullopt;
            loc.components << parts[i];
        }
        return loc;
    }
    if (winPath.size() < 2 || winPath[1] != QLatin1Char(':'))
        return std::nullopt;
    const char16_t letter = winPath[0].toUpper().unicode();
    if (letter < u'A' || letter > u'Z')
        return std::nullopt;
    if (winPath.size() > 2 && winPath[2] != QLatin1Char('\\'))
        return std::nullopt;
    loc.root = QString(QChar(letter)) + QLatin1Char(':');
    const QStringList parts = winPath.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString &p : parts) {
        if (!validName(p))
            return std::nullopt;
        loc.components << p;
    }
    return loc;
}

std::optional<QByteArray> idList(const WinLocation &target, const LnkTargetInfo &info)
{
    if (target.unc)
        return std::nullopt;
    QByteArray list;
    appendU16(list, 0x14);
    list.append('\x1F');
    list.append('\x50'); // sort index of My Computer
    list.append(reinterpret_cast<const char *>(ShellIds::kMyComputer), 16);

    QByteArray volume(0x19, '\0');
    volume[0] = 0x19;
    volume[2] = 0x2F;
    volume[3] = static_cast<char>(target.root[0].unicode());
    volume[4] = ':';
    volume[5] = '\\';
    list.append(volume);

    for (qsizetype i = 0; i < target.components.size(); ++i) {
        const bool last = i == target.components.size() - 1;
        const bool directory = !last || (info.attributes & kDirectory);
        const auto item = last ? fileEntry(target.components[i], directory, static_cast<quint32>(info.size),
                                           static_cast<quint16>(info.attributes & 0xFFFF), info.writeTime,
                                           info.creationTime, info.accessTime)
                               : fileEntry(target.components[i], true, 0, kDirectory, 0, 0, 0);
        if (!item)
            return std::nullopt;
        list.append(*item);
    }
    appendU16(list, 0); // TerminalID
    if (list.size() > 0xFFFF)
        return std::nullopt;
    QByteArray out;
    appendU16(out, static_cast<quint16>(list.size()));
    return out + list;
}

QByteArray linkInfo(const WinLocation &target, const LnkTargetInfo &info)
{
    QByteArray body; // everything after the header, offsets relative to LinkInfo
    quint32 flags = 0, volumeOffset = 0, localOffset = 0, netOffset = 0, suffixOffset = 0;
    quint32 localUnicodeOffset = 0, suffixUnicodeOffset = 0;
    QString suffix;
    QString local;
    QString net;
    if (target.unc) {
        net = target.root;
        suffix = target.components.join(QLatin1Char('\\'));
    } else {
        local = target.path();
    }
    const auto localAnsi = exactAnsi(local);
    const auto netAnsi = exactAnsi(net);
    const auto suffixAnsi = exactAnsi(suffix);
    const bool unicode = !localAnsi || !netAnsi || !suffixAnsi;
    const quint32 headerSize = unicode ? 0x24 : 0x1C;
    auto here = [&] { return static_cast<quint32>(headerSize + body.size()); };

    if (!target.unc) {
        flags = LnkInfoFlag::VolumeIDAndLocalBasePath;
        volumeOffset = here();
        body.append(volumeId(info));
        localOffset = here();
        body.append(localAnsi ? *localAnsi : AnsiCodec::encodeCp1252Lossy(local));
        body.append('\0');
        if (unicode) {
            padEven(body);
            localUnicodeOffset = here();
            appendUtf16(body, local);
            appendU16(body, 0);
        }
    } else {
        flags = LnkInfoFlag::CommonNetworkRelativeLinkAndPathSuffix;
        netOffset = here();
        QByteArray cnrl;
        const bool netUnicode = !netAnsi;
        const quint32 nameOffset = netUnicode ? 0x1C : 0x14;
        appendU32(cnrl, 0); // size, set below
        appendU32(cnrl, LnkNetFlag::ValidNetType);
        appendU32(cnrl, nameOffset);
        appendU32(cnrl, 0); // no device name
        appendU32(cnrl, kWnncNetLanman);
        if (netUnicode) {
            appendU32(cnrl, 0); // NetNameOffsetUnicode, set below
            appendU32(cnrl, 0);
        }
        cnrl.append(netAnsi ? *netAnsi : AnsiCodec::encodeCp1252Lossy(net));
        cnrl.append('\0');
        if (netUnicode) {
            padEven(cnrl);
            putU32(cnrl, 0x14, static_cast<quint32>(cnrl.size()));
            appendUtf16(cnrl, net);
            appendU16(cnrl, 0);
        }
        putU32(cnrl, 0, static_cast<quint32>(cnrl.size()));
        body.append(cnrl);
    }
    suffixOffset = here();
    body.append(suffixAnsi ? *suffixAnsi : AnsiCodec::encodeCp1252Lossy(suffix));
    body.append('\0');
    if (unicode) {
        padEven(body);
        suffixUnicodeOffset = here();
        appendUtf16(body, suffix);
        appendU16(body, 0);
    }

    QByteArray out;
    appendU32(out, headerSize + static_cast<quint32>(body.size()));
    appendU32(out, headerSize);
    appendU32(out, flags);
    appendU32(out, volumeOffset);
    appendU32(out, localOffset);
    appendU32(out, netOffset);
    appendU32(out, suffixOffset);
    if (unicode) {
        appendU32(out, localUnicodeOffset);
        appendU32(out, suffixUnicodeOffset);
    }
    return out + body;
}

std::optional<QString> relativePath(const QString &shortcutWinPath, const WinLocation &target)
{
    const auto shortcut = parseWinPath(shortcutWinPath);
    if (!shortcut || shortcut->components.isEmpty() || shortcut->unc != target.unc ||
        shortcut->root.compare(target.root, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QStringList folder = shortcut->components.mid(0, shortcut->components.size() - 1);
    qsizetype common = 0;
    while (common < folder.size() && common < target.components.size() &&
           folder[common].compare(target.components[common], Qt::CaseInsensitive) == 0)
        ++common;
    QStringList parts;
    const qsizetype ups = folder.size() - common;
    if (ups == 0)
        parts << QStringLiteral(".");
    for (qsizetype i = 0; i < ups; ++i)
        parts << QStringLiteral("..");
    parts << target.components.mid(common);
    return parts.join(QLatin1Char('\\'));
}

std::optional<QByteArray> stringData(const QString &text, bool unicode)
{
    QByteArray out;
    if (unicode) {
        if (text.size() > 0xFFFF)
            return std::nullopt;
        appendU16(out, static_cast<quint16>(text.size()));
        appendUtf16(out, text);
        return out;
    }
    const auto ansi = exactAnsi(text);
    if (!ansi || ansi->size() > 0xFFFF)
        return std::nullopt;
    appendU16(out, static_cast<quint16>(ansi->size()));
    return out + *ansi;
}

QByteArray environmentBlock(quint32 signature, const QString &text)
{
    QByteArray block(0x314, '\0');
    putU32(block, 0, 0x314);
    putU32(block, 4, signature);
    const QByteArray ansi = AnsiCodec::encodeCp1252Lossy(text.left(259));
    for (qsizetype i = 0; i < ansi.size(); ++i)
        block[8 + i] = ansi[i];
    const QString wide = text.left(259);
    for (qsizetype i = 0; i < wide.size(); ++i) {
        block[8 + 260 + 2 * i] = static_cast<char>(wide[i].unicode() & 0xFF);
        block[8 + 260 + 2 * i + 1] = static_cast<char>(wide[i].unicode() >> 8);
    }
    return block;
}

std::pair<quint16, quint16> fatDateTime(quint64 filetime)
{
    using namespace std::chrono;
    const std::optional<qint64> unixSeconds = FileTime::toUnixSeconds(filetime);
    if (!unixSeconds)
        return {0, 0};
    // Up to the next even second, as Windows rounds.
    qint64 secs = *unixSeconds;
    if (filetime % quint64(FileTime::kTicksPerSecond) || secs % 2)
        secs += 2 - (secs % 2 + 2) % 2;
    const sys_seconds when{seconds(secs)};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    if (date.year() < year(1980) || date.year() > year(2107))
        return {0, 0};
    return {static_cast<quint16>(((int(date.year()) - 1980) << 9) | (unsigned(date.month()) << 5) |
                                 unsigned(date.day())),
            static_cast<quint16>((time.hours().count() << 11) | (time.minutes().count() << 5) |
                                 (time.seconds().count() / 2))};
}

} // namespace LnkBuilder
