// Writes the seed corpus of the shortcut rewrite fuzz target: links made by
// our own writer with every kind of structure around the target, the same
// links damaged by hand in the ways real files are (no terminal block, bytes
// after it, a relative path without its flag, strings with NULs inside,
// target-related flags and blocks in odd combinations, cut short), and every
// file in the folders given after the output folder; each paired with a few
// new targets (RewriteInput.h).
// Usage: lnk_rewrite_seeds <dir> [<folder of .lnk files>...] (the output
// folder is emptied first, so every run starts from the same corpus).

#include "RewriteInput.h"

#include "lnk/LnkBuilder.h"
#include "lnk/LnkFile.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <cstdio>
#include <variant>

namespace {

QByteArray block(quint32 signature, qsizetype size, char fill = '\0')
{
    QByteArray b(size, fill);
    LnkBuilder::putU32(b, 0, quint32(size));
    LnkBuilder::putU32(b, 4, signature);
    return b;
}

QByteArray withFlags(QByteArray link, quint32 set, quint32 clear = 0)
{
    const quint32 flags = quint32(quint8(link[0x14])) | quint32(quint8(link[0x15])) << 8 |
                          quint32(quint8(link[0x16])) << 16 | quint32(quint8(link[0x17])) << 24;
    LnkBuilder::putU32(link, 0x14, (flags | set) & ~clear);
    return link;
}

std::optional<QByteArray> made(const QString &target, quint32 attributes, const LnkCreateOptions &options)
{
    LnkTargetInfo info;
    info.winPath = target;
    info.attributes = attributes;
    info.size = 123456;
    info.creationTime = 0x01D6A67D48C6A08Cull;
    info.writeTime = 0x01D6A67D48D482B1ull;
    info.accessTime = info.writeTime;
    info.driveSerial = 0x1234ABCD;
    info.volumeLabel = QStringLiteral("Data");
    auto link = LnkFile::create(info, QStringLiteral("c:\\Users\\Public\\Desktop\\seed.lnk"), options);
    if (!std::holds_alternative<LnkFile>(link))
        return std::nullopt;
    return std::get<LnkFile>(link).serialize();
}

QList<QByteArray> writerLinks()
{
    QList<QByteArray> out;
    LnkCreateOptions plain;
    LnkCreateOptions strings;
    strings.name = QStringLiteral("A shortcut");
    strings.workingDirectory = QStringLiteral("c:\\Work");
    strings.arguments = QStringLiteral("/x \"y\" \u00e9");
    strings.iconLocation = QStringLiteral("%SystemRoot%\\system32\\shell32.dll");
    strings.iconIndex = -3;
    strings.hotKey = 0x0341;
    strings.showCommand = 7;
    LnkCreateOptions ansi = strings;
    ansi.unicode = false;
    ansi.arguments = QStringLiteral("/caf\u00e9");
    LnkCreateOptions bare = strings;
    bare.idList = false;
    bare.relativePath = false;
    LnkCreateOptions noInfo = strings;
    noInfo.linkInfo = false;

    LnkCreateOptions blocks = strings;
    blocks.environmentTarget = QStringLiteral("%ProgramFiles%\\App\\app.exe");
    QByteArray tracker = block(LnkBlock::Tracker, 0x60);
    LnkBuilder::putU32(tracker, 8, 0x58);
    tracker.replace(16, 4, "host");
    blocks.extraBlocks << tracker << block(LnkBlock::Console, 0xCC, '\x07')
                       << block(LnkBlock::SpecialFolder, 0x10) << block(LnkBlock::KnownFolder, 0x1C)
                       << LnkBuilder::environmentBlock(LnkBlock::IconEnvironment,
                                                       QStringLiteral("%windir%\\i.ico"))
                       << block(LnkBlock::PropertyStore, 0x40, '\x5A') << block(0xDEADBEEF, 0x0C, '\x01')
                       << block(LnkBlock::VistaAndAboveIDList, 0x0A);

    for (const auto &[target, attributes, options] :
         std::initializer_list<std::tuple<QString, quint32, LnkCreateOptions>>{
             {QStringLiteral("c:\\Program Files\\App\\app.exe"), 0x20, plain},
             {QStringLiteral("c:\\Program Files\\App\\app.exe"), 0x20, strings},
             {QStringLiteral("c:\\Caf\u00e9\\r\u00e9sum\u00e9, final.txt"), 0x20, ansi},
             {QStringLiteral("d:\\\u6570\u636e\\\U0001F370.txt"), 0x20, strings},
             {QStringLiteral("c:\\Users\\Public\\Music"), 0x10, strings},
             {QStringLiteral("e:\\"), 0x10, plain},
             {QStringLiteral("\\\\server\\share\\dir\\file.doc"), 0x20, strings},
             {QStringLiteral("c:\\Windows\\notepad.exe"), 0x20, bare},
             {QStringLiteral("c:\\Windows\\notepad.exe"), 0x20, noInfo},
             {QStringLiteral("c:\\Program Files\\App\\app.exe"), 0x20, blocks},
         }) {
        if (const auto bytes = made(target, attributes, options))
            out << *bytes;
    }
    return out;
}

// The writer's links damaged by hand: some still load, some no longer do
// (starting points for the mutations all the same).
QList<QByteArray> damaged(const QList<QByteArray> &links)
{
    QList<QByteArray> out;
    for (const QByteArray &link : links) {
        out << link.chopped(4);                     // no terminal block
        out << link + QByteArray("\x00garbage", 8); // bytes after it
        out << link.left(link.size() / 2);          // cut short
        out << withFlags(link, 0, LnkFlag::HasRelativePath);
        out << withFlags(link, LnkFlag::ForceNoLinkInfo | LnkFlag::PreferEnvironmentPath |
                                   LnkFlag::DisableLinkPathTracking | LnkFlag::PersistVolumeIdRelative);
        out << withFlags(link, LnkFlag::HasDarwinID);
        out << withFlags(link, 0, LnkFlag::IsUnicode);
    }
    // A name with NULs and garbage inside its count, in a Unicode link.
    LnkCreateOptions options;
    options.name = QString::fromUtf16(u"before\0after\u00e9", 13);
    if (const auto bytes = made(QStringLiteral("c:\\a\\b.txt"), 0x20, options))
        out << *bytes;
    return out;
}

QList<QByteArray> targets()
{
    using RewriteInput::encodeTarget;
    return {
        encodeTarget(2, QStringLiteral("Program Files\\App\\app.exe"), 4096, 0x01D6A67D48C6A08Cull,
                     0x01D6A67D48D482B1ull),
        encodeTarget(3 | 0x40, QStringLiteral("Data\\\u65e5\u672c\u8a9e \u00e9"), 0, 0,
                     0x01D0000000000000ull),
        encodeTarget(0x20, QStringLiteral("server\\share\\dir\\file.txt"), 1),
        encodeTarget(2 | 0x80, QStringLiteral("x\\y\\z.exe"), 0x1FFFFFFFFull),
        encodeTarget(2, QStringLiteral("a:b\\bad.txt")),
    };
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder> [<folder of .lnk files>...]\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.removeRecursively();
    if (!QDir().mkpath(dir.path()))
        return 1;

    QList<QByteArray> links = writerLinks();
    links += damaged(links);
    for (int i = 2; i < argc; ++i) {
        const QDir from(QString::fromLocal8Bit(argv[i]));
        for (const QString &name : from.entryList(QDir::Files, QDir::Name)) {
            QFile file(from.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                links << file.readAll();
        }
    }

    const QList<QByteArray> specs = targets();
    int written = 0;
    for (qsizetype i = 0; i < links.size(); ++i) {
        // Every link with the first target; each other target with a few links.
        for (qsizetype t = 0; t < specs.size(); ++t) {
            if (t != 0 && (i + t) % 3 != 0)
                continue;
            QFile out(dir.filePath(QStringLiteral("seed-%1-%2").arg(i, 3, 10, QLatin1Char('0')).arg(t)));
            if (!out.open(QIODevice::WriteOnly) || out.write(RewriteInput::input(specs[t], links[i])) < 0)
                return 1;
            ++written;
        }
    }
    std::printf("%d seeds\n", written);
    return 0;
}
