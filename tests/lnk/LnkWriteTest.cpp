// Writing shortcut files: new links from LnkFile::create, and changing the
// target of existing ones while every unrelated byte stays.

#include "LnkTestKit.h"
#include "lnk/LnkBuilder.h"
#include "lnk/LnkFile.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

LnkFile make(const LnkTargetInfo &target, const QString &shortcut, const LnkCreateOptions &options = {})
{
    auto created = LnkFile::create(target, shortcut, options);
    if (auto *error = std::get_if<LnkError>(&created))
        ADD_FAILURE() << "create failed: " << error->what.toStdString();
    return std::get<LnkFile>(std::move(created));
}

LnkTargetInfo fileTarget(const QString &winPath)
{
    LnkTargetInfo t;
    t.winPath = winPath;
    t.attributes = 0x20;
    t.size = 0x1'2345'6789ull; // above 4 GiB: the header keeps the low half
    t.creationTime = 0x01D6A67D48C6A08Cull;
    t.accessTime = 0x01D6A70A9DB21397ull;
    t.writeTime = 0x01D6A67D48D482B1ull;
    t.driveSerial = 0x7CF6639A;
    t.volumeLabel = QStringLiteral("System");
    return t;
}

QString upperDrive(QString path)
{
    if (path.size() > 1 && path[1] == QLatin1Char(':'))
        path[0] = path[0].toUpper();
    return path;
}

// Sets header flag bits on a copy.
QByteArray withFlags(QByteArray bytes, quint32 set)
{
    const auto link = load(bytes);
    LnkBuilder::putU32(bytes, 0x14, link.linkFlags() | set);
    return bytes;
}

} // namespace

TEST(LnkWrite, CreatedLinkReadsBackEveryField)
{
    LnkCreateOptions options;
    options.name = QStringLiteral("Report, final");
    options.workingDirectory = QStringLiteral("c:\\Data");
    options.arguments = QStringLiteral("/open \"x y\"");
    options.iconLocation = QStringLiteral("%SystemRoot%\\system32\\shell32.dll");
    options.iconIndex = -3;
    options.showCommand = 7;
    options.hotKey = 0x0641;
    const LnkTargetInfo target = fileTarget(QStringLiteral("c:\\Data\\Reports\\q3.xlsx"));
    const LnkFile created = make(target, QStringLiteral("c:\\Users\\Public\\Desktop\\Q3.lnk"), options);
    const LnkFile link = load(created.serialize());
    EXPECT_EQ(link.serialize(), created.serialize());
    EXPECT_EQ(link.targetPath(false), QStringLiteral("C:\\Data\\Reports\\q3.xlsx"));
    EXPECT_EQ(link.targetPath(true), QStringLiteral("C:\\Data\\Reports\\q3.xlsx"));
    EXPECT_EQ(link.relativePath(), QStringLiteral("..\\..\\..\\Data\\Reports\\q3.xlsx"));
    EXPECT_EQ(link.name(), options.name);
    EXPECT_EQ(link.workingDirectory(), options.workingDirectory);
    EXPECT_EQ(link.arguments(), options.arguments);
    EXPECT_EQ(link.iconLocation(), options.iconLocation);
    EXPECT_EQ(link.iconIndex(), -3);
    EXPECT_EQ(link.showCommand(), 7u);
    EXPECT_EQ(link.hotKey(), 0x0641);
    EXPECT_EQ(link.fileAttributes(), 0x20u);
    EXPECT_EQ(link.fileSize(), 0x23456789u);
    EXPECT_EQ(link.creationTime(), target.creationTime);
    EXPECT_EQ(link.accessTime(), target.accessTime);
    EXPECT_EQ(link.writeTime(), target.writeTime);
    ASSERT_TRUE(link.volume());
    EXPECT_EQ(link.volume()->serial, 0x7CF6639Au);
    EXPECT_EQ(link.volume()->label, QStringLiteral("System"));
    EXPECT_EQ(link.linkFlags(), 0xFFu);
}

TEST(LnkWrite, EachStructurePresentOrAbsentInBothEncodings)
{
    const LnkTargetInfo target = fileTarget(QStringLiteral("c:\\Program Files\\App\\app.exe"));
    for (int unicode = 0; unicode < 2; ++unicode) {
        for (int mask = 0; mask < 32; ++mask) {
            SCOPED_TRACE(mask + 32 * unicode);
            LnkCreateOptions o;
            o.unicode = unicode;
            o.relativePath = mask & 2;
            if (mask & 1)
                o.name = QStringLiteral("Caf\u00e9 app");
            if (mask & 4)
                o.workingDirectory = QStringLiteral("c:\\Program Files\\App");
            if (mask & 8)
                o.arguments = QStringLiteral("--x");
            if (mask & 16)
                o.iconLocation = QStringLiteral("c:\\icons\\a.ico");
            const LnkFile link =
                load(make(target, QStringLiteral("c:\\Users\\Public\\Desktop\\A.lnk"), o).serialize());
            EXPECT_EQ(link.targetPath(false), QStringLiteral("C:\\Program Files\\App\\app.exe"));
            EXPECT_EQ(link.name(), o.name);
            EXPECT_EQ(link.relativePath().has_value(), o.relativePath);
            EXPECT_EQ(link.workingDirectory(), o.workingDirectory);
            EXPECT_EQ(link.arguments(), o.arguments);
            EXPECT_EQ(link.iconLocation(), o.iconLocation);
            EXPECT_EQ(bool(link.linkFlags() & LnkFlag::IsUnicode), bool(unicode));
            EXPECT_EQ(link.linkFlags() & 0x7Cu, static_cast<quint32>(mask) << 2);
        }
    }
    // Either list alone still names the target; neither leaves no target.
    for (int lists = 0; lists < 4; ++lists) {
        LnkCreateOptions o;
        o.idList = lists & 1;
        o.linkInfo = lists & 2;
        const LnkFile link = load(make(target, QString(), o).serialize());
        EXPECT_EQ(bool(link.linkFlags() & LnkFlag::HasLinkTargetIDList), o.idList);
        EXPECT_EQ(bool(link.linkFlags() & LnkFlag::HasLinkInfo), o.linkInfo);
        EXPECT_EQ(link.volume().has_value(), o.linkInfo);
        EXPECT_EQ(link.targetPath(true),
                  lists ? QStringLiteral("C:\\Program Files\\App\\app.exe") : QString());
    }
    // A string an ANSI link cannot hold is refused rather than mangled.
    LnkCreateOptions ansi;
    ansi.unicode = false;
    ansi.name = QStringLiteral("\u6570\u636e");
    EXPECT_TRUE(std::holds_alternative<LnkError>(LnkFile::create(target, QString(), ansi)));
}

TEST(LnkWrite, OddNamesAndLongPathsSurviveThroughIdListAndLinkInfo)
{
    const QString names[] = {
        QStringLiteral("c:\\Users\\Zo\u00eb\\Caf\u00e9 cr\u00e8me\\na\u00efve, r\u00e9sum\u00e9.txt"),
        QStringLiteral("d:\\\u6570\u636e\\\u6587\u4ef6 \u4e00.txt"),
        QString::fromUtf16(u"c:\\x\\test\u2764\ufe0fand\U0001F370.txt"),
        QStringLiteral("c:\\a b\\c, d\\ e .f"),
        QStringLiteral("c:\\\u20ac\u0178\\\u00ff"),
        QStringLiteral("c:\\") + QString(100, QLatin1Char('a')) + QLatin1Char('\\') +
            QString(100, QChar(0x00e9)) + QLatin1Char('\\') + QString(54, QLatin1Char('z')),
        QStringLiteral("c:\\") + QString(255, QChar(0x6587)),
    };
    for (const QString &path : names) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = make(fileTarget(path), QStringLiteral("c:\\Users\\x.lnk")).serialize();
        const QString expected = upperDrive(path);
        EXPECT_EQ(load(bytes).targetPath(false), expected);
        // The same path from the IDList alone, and from LinkInfo alone (its
        // Unicode fields where Windows-1252 has no form).
        EXPECT_EQ(load(withFlags(bytes, LnkFlag::ForceNoLinkInfo)).targetPath(false), expected);
        LnkCreateOptions infoOnly;
        infoOnly.idList = false;
        EXPECT_EQ(load(make(fileTarget(path), QString(), infoOnly).serialize()).targetPath(false), expected);
    }
    EXPECT_EQ(names[5].size(), 259);
}

TEST(LnkWrite, FoldersDrivesAndNetworkTargets)
{
    LnkTargetInfo folder = fileTarget(QStringLiteral("c:\\Users\\Public\\Music\\"));
    folder.attributes = 0x10;
    const LnkFile f = load(make(folder, QStringLiteral("c:\\Users\\Public\\Desktop\\M.lnk")).serialize());
    EXPECT_EQ(f.targetPath(false), QStringLiteral("C:\\Users\\Public\\Music"));
    EXPECT_EQ(f.fileSize(), 0u);
    EXPECT_EQ(f.relativePath(), QStringLiteral("..\\Music"));

    folder.winPath = QStringLiteral("e:");
    const LnkFile drive = load(make(folder, QStringLiteral("c:\\x.lnk")).serialize());
    EXPECT_EQ(drive.targetPath(false), QStringLiteral("E:\\"));
    EXPECT_FALSE(drive.relativePath()); // another drive: no relative path

    const LnkFile net =
        load(make(fileTarget(QStringLiteral("\\\\server\\share\\dir\\f.txt")), QStringLiteral("c:\\x.lnk"))
                 .serialize());
    EXPECT_EQ(net.targetPath(true), QStringLiteral("\\\\server\\share\\dir\\f.txt"));
    EXPECT_EQ(net.targetPath(false), QStringLiteral("\\\\server\\share\\dir\\f.txt"));
    EXPECT_FALSE(net.linkFlags() & LnkFlag::HasLinkTargetIDList);
    EXPECT_FALSE(net.relativePath());

    const QString wide = QStringLiteral("\\\\\u30b5\u30fc\u30d0\\\u5171\u6709\\\u6587\u4ef6.txt");
    const LnkFile netWide = load(
        make(fileTarget(wide), QStringLiteral("\\\\\u30b5\u30fc\u30d0\\\u5171\u6709\\a\\x.lnk")).serialize());
    EXPECT_EQ(netWide.targetPath(true), wide);
    EXPECT_EQ(netWide.relativePath(), QStringLiteral("..\\\u6587\u4ef6.txt"));

    for (const char *bad : {"relative\\x.txt", "c:\\a\\..\\b", "c:\\a|b", "\\\\server", "1:\\x", "c:x"})
        EXPECT_TRUE(std::holds_alternative<LnkError>(
            LnkFile::create(fileTarget(QString::fromLatin1(bad)), QString())))
            << bad;
}

TEST(LnkWrite, RelativePaths)
{
    auto rel = [](const char *shortcut, const char *target) {
        return LnkBuilder::relativePath(QString::fromLatin1(shortcut),
                                        *LnkBuilder::parseWinPath(QString::fromLatin1(target)));
    };
    EXPECT_EQ(rel("c:\\test\\a.lnk", "c:\\test\\a.txt"), QStringLiteral(".\\a.txt"));
    EXPECT_EQ(rel("C:\\Users\\X\\Desktop\\a.lnk", "c:\\users\\x\\Docs\\b.txt"),
              QStringLiteral("..\\Docs\\b.txt"));
    EXPECT_EQ(rel("c:\\a\\b\\c\\d\\x.lnk", "c:\\"), QStringLiteral("..\\..\\..\\.."));
    EXPECT_EQ(rel("c:\\a\\x.lnk", "c:\\a"), QStringLiteral("."));
    EXPECT_EQ(rel("c:\\x.lnk", "c:\\a\\b"), QStringLiteral(".\\a\\b"));
    EXPECT_EQ(rel("d:\\x.lnk", "c:\\a"), std::nullopt);
    EXPECT_EQ(rel("\\\\s\\t\\x.lnk", "c:\\a"), std::nullopt);
}

TEST(LnkWrite, SetTargetKeepsEveryUnrelatedByte)
{
    const QByteArray original = sample(QStringLiteral("local_file.lnk"));
    const LnkFile before = load(original);
    ASSERT_TRUE(before.extraBlockSignatures().contains(LnkBlock::Tracker));
    ASSERT_TRUE(before.extraBlockSignatures().contains(LnkBlock::KnownFolder));
    LnkFile link = before;
    LnkTargetInfo target = fileTarget(QStringLiteral("c:\\Windows\\System32\\notepad.exe"));
    target.attributes = 0x20 | 0x08 | 0x40; // bits a link must not carry
    ASSERT_TRUE(link.setTarget(target, QStringLiteral("c:\\Users\\stray\\Desktop\\sub\\Explorer.lnk")));
    const QByteArray bytes = link.serialize();
    const LnkFile after = load(bytes);

    EXPECT_EQ(after.targetPath(false), QStringLiteral("C:\\Windows\\System32\\notepad.exe"));
    EXPECT_EQ(after.relativePath(), QStringLiteral("..\\..\\..\\..\\Windows\\System32\\notepad.exe"));
    EXPECT_EQ(after.fileAttributes(), 0x20u);
    EXPECT_EQ(after.fileSize(), 0x23456789u);
    EXPECT_EQ(after.writeTime(), target.writeTime);
    EXPECT_EQ(after.volume()->serial, target.driveSerial);
    // Same flags: the relative path and all strings stay, as do the lists.
    EXPECT_EQ(after.linkFlags(), before.linkFlags());
    // Header bytes outside flags, attributes, times and size are unchanged.
    EXPECT_EQ(bytes.left(0x14), original.left(0x14));
    EXPECT_EQ(bytes.mid(0x38, 0x14), original.mid(0x38, 0x14));
    EXPECT_EQ(after.workingDirectory(), before.workingDirectory());
    // The blocks about the old target went; every other block is the same
    // bytes in the same order, and ends the file the same way.
    QList<quint32> kept;
    for (quint32 s : before.extraBlockSignatures()) {
        if (s != LnkBlock::Tracker && s != LnkBlock::KnownFolder && s != LnkBlock::SpecialFolder &&
            s != LnkBlock::VistaAndAboveIDList && s != LnkBlock::EnvironmentVariable)
            kept << s;
    }
    EXPECT_EQ(after.extraBlockSignatures(), kept);
    const qsizetype store = original.indexOf(QByteArray::fromHex("09000"
                                                                 "0A0"));
    ASSERT_GT(store, 4);
    const QByteArray propertyStoreToEnd = original.mid(store - 4);
    EXPECT_TRUE(bytes.endsWith(propertyStoreToEnd));
}

TEST(LnkWrite, SetTargetDropsEnvironmentAndKeepsFlagsConsistent)
{
    // The network sample has an environment block (HasExpString), no IDList
    // and a relative path is absent; a local target adds the IDList.
    const QByteArray original = sample(QStringLiteral("net_folder1_file1.lnk"));
    LnkFile link = load(original);
    ASSERT_TRUE(link.linkFlags() & LnkFlag::HasExpString);
    ASSERT_TRUE(
        link.setTarget(fileTarget(QStringLiteral("c:\\Downloads\\file1.txt")), QStringLiteral("c:\\x.lnk")));
    const LnkFile after = load(link.serialize());
    EXPECT_FALSE(after.linkFlags() & LnkFlag::HasExpString);
    EXPECT_FALSE(after.environmentTarget());
    EXPECT_TRUE(after.linkFlags() & LnkFlag::HasLinkTargetIDList);
    EXPECT_FALSE(after.linkFlags() & LnkFlag::HasRelativePath);
    EXPECT_EQ(after.targetPath(true), QStringLiteral("C:\\Downloads\\file1.txt"));
    EXPECT_EQ(after.workingDirectory(), load(original).workingDirectory());

    // A link whose relative path cannot be expressed loses it with its flag.
    LnkFile other = load(sample(QStringLiteral("recent1.lnk")));
    ASSERT_TRUE(other.relativePath());
    ASSERT_TRUE(other.setTarget(fileTarget(QStringLiteral("d:\\x.pdf")), QStringLiteral("c:\\Users\\a.lnk")));
    EXPECT_FALSE(load(other.serialize()).relativePath());
    EXPECT_FALSE(load(other.serialize()).linkFlags() & LnkFlag::HasRelativePath);

    // A target the format cannot name leaves the link as it was.
    LnkFile same = load(original);
    EXPECT_FALSE(same.setTarget(fileTarget(QStringLiteral("x.txt")), QString()));
    EXPECT_EQ(same.serialize(), original);
}

TEST(LnkWrite, ExtraBlocksFromOptionsAreWrittenInOrder)
{
    LnkCreateOptions o;
    o.environmentTarget = QStringLiteral("%windir%\\notepad.exe");
    QByteArray console(0x0C, '\0');
    LnkBuilder::putU32(console, 0, 0x0C);
    LnkBuilder::putU32(console, 4, LnkBlock::ConsoleFE);
    console[8] = '\xE9';
    o.extraBlocks << console;
    const LnkFile link =
        load(make(fileTarget(QStringLiteral("c:\\Windows\\notepad.exe")), QString(), o).serialize());
    EXPECT_EQ(link.extraBlockSignatures(),
              (QList<quint32>{LnkBlock::EnvironmentVariable, LnkBlock::ConsoleFE}));
    EXPECT_EQ(link.environmentTarget(), o.environmentTarget);
    EXPECT_EQ(link.targetPath(false), QStringLiteral("c:\\Windows\\notepad.exe"));
    EXPECT_TRUE(link.serialize().endsWith(console + QByteArray(4, '\0')));

    QByteArray wrongSize = console;
    wrongSize[0] = 0x10;
    o.extraBlocks = {wrongSize};
    EXPECT_TRUE(
        std::holds_alternative<LnkError>(LnkFile::create(fileTarget(QStringLiteral("c:\\a")), QString(), o)));
}
