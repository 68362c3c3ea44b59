// Reading shortcut files: real Windows-made samples, the [MS-SHLLINK]
// "Link File Example", links as Wine's shell32 writes them, and damaged input.

#include "lnk/LnkFile.h"
#include "LnkTestKit.h"
#include "lnk/AnsiCodec.h"
#include "lnk/LnkBuilder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// [MS-SHLLINK] section 3, "Link File Example": a shortcut to C:\test\a.txt.
const QByteArray kMsExample = QByteArray::fromHex("4C0000000114020000000000C0000000" // 0000
                                                  "000000469B00080020000000D0E9EEF2" // 0010
                                                  "1515C901D0E9EEF21515C901D0E9EEF2" // 0020
                                                  "1515C901000000000000000001000000" // 0030
                                                  "000000000000000000000000BD001400" // 0040
                                                  "1F50E04FD020EA3A6910A2D808002B30" // 0050
                                                  "309D19002F433A5C0000000000000000" // 0060
                                                  "00000000000000000000004600310000" // 0070
                                                  "0000002C3969A3100074657374000032" // 0080
                                                  "0007000400EFBE2C3965A32C3969A326" // 0090
                                                  "000000031E00000000F51E0000000000" // 00A0
                                                  "00000000007400650073007400000014" // 00B0
                                                  "0048003200000000002C3969A3200061" // 00C0
                                                  "2E74787400340007000400EFBE2C3969" // 00D0
                                                  "A32C3969A3260000002D6E0000000096" // 00E0
                                                  "010000000000000000000061002E0074" // 00F0
                                                  "00780074000000140000003C0000001C" // 0100
                                                  "000000010000001C0000002D00000000" // 0110
                                                  "0000003B000000110000000300000081" // 0120
                                                  "8A7A301000000000433A5C746573745C" // 0130
                                                  "612E747874000007002E005C0061002E" // 0140
                                                  "00740078007400070043003A005C0074" // 0150
                                                  "0065007300740060000000030000A058" // 0160
                                                  "0000000000000063687269732D787073" // 0170
                                                  "000000000000004078C79447FAC746B3" // 0180
                                                  "565C2DC6B6D115EC46CD7B227FDD1194" // 0190
                                                  "9900137216874A4078C79447FAC746B3" // 01A0
                                                  "565C2DC6B6D115EC46CD7B227FDD1194" // 01B0
                                                  "9900137216874A00000000");         // 01C0

struct SampleCase
{
    const char *file;
    const char16_t *local; // targetPath(false)
    const char16_t *unc;   // targetPath(true)
};

// The targets of the Windows-made samples. The table beside them was made by
// an older reader that decodes UTF-8 and some UTF-16 as mojibake; these are
// decoded from the files' own UTF-16 copies.
const SampleCase kSamples[] = {
    {"desktop.lnk", u"C:\\Users\\heznik\\Desktop", nullptr},
    {"diacritic_symbols.lnk",
     u"D:\\\u00f6\u00f6\u00f6\\\u00e4\u00f6\u00fc\u00e0\u00e9\u00e8\u00ed\u00ef\u00f3\u00f2"
     u"\u00fa\u00fc.txt",
     nullptr},
    {"local_disk.lnk", u"C:\\", nullptr},
    {"local_emoji.lnk", u"C:\\Users\\Public\\Downloads\\test\u2764\ufe0fand\U0001F370.txt", nullptr},
    {"local_extra_0xa2000001.lnk", u"c:\\Windows\\system32\\cmd.exe", nullptr},
    {"local_file.lnk", u"C:\\Windows\\explorer.exe", nullptr},
    {"local_folder.lnk", u"C:\\Users\\stray\\Desktop\\New folder", nullptr},
    {"mounted_folder1_file1.lnk", u"Z:\\Downloads\\folder1\\file1.txt",
     u"\\\\192.168.138.2\\storage\\Downloads\\folder1\\file1.txt"},
    {"mounted_folder1_file2.lnk", u"Z:\\Downloads\\folder1\\file12.txt",
     u"\\\\192.168.138.2\\storage\\Downloads\\folder1\\file12.txt"},
    {"mounted_folder2_file1.lnk", u"Z:\\Downloads\\folder12\\file1.txt",
     u"\\\\192.168.138.2\\storage\\Downloads\\folder12\\file1.txt"},
    {"mounted_folder2_file2.lnk", u"Z:\\Downloads\\folder12\\file12.txt",
     u"\\\\192.168.138.2\\storage\\Downloads\\folder12\\file12.txt"},
    {"net_folder1_file1.lnk", u"\\\\192.168.138.2\\STORAGE\\Downloads\\folder1\\file1.txt", nullptr},
    {"net_folder1_file2.lnk", u"\\\\192.168.138.2\\STORAGE\\Downloads\\folder1\\file12.txt", nullptr},
    {"net_folder2_file1.lnk", u"\\\\192.168.138.2\\STORAGE\\Downloads\\folder12\\file1.txt", nullptr},
    {"net_folder2_file2.lnk", u"\\\\192.168.138.2\\STORAGE\\Downloads\\folder12\\file12.txt", nullptr},
    {"recent1.lnk", u"C:\\Users\\heznik\\Downloads\\2020M09_01_contract.pdf", nullptr},
    {"recent2.lnk", u"C:\\Users\\stray\\Downloads\\catastrophe_89f317b5c3.7z", nullptr},
    // Fax recipient: %windir%\system32\WFS.exe from its environment block
    // (PreferEnvironmentPath), a file-system target after all.
    {"send_to_fax.lnk", u"c:\\Windows\\system32\\WFS.exe", nullptr},
    {"uwp_calc.lnk", u"", nullptr},
};

// Copies a link with some header flag bits changed.
QByteArray withFlags(QByteArray bytes, quint32 set, quint32 clear = 0)
{
    const quint32 flags = (static_cast<quint8>(bytes[0x14]) | static_cast<quint8>(bytes[0x15]) << 8 |
                           static_cast<quint8>(bytes[0x16]) << 16 |
                           static_cast<quint32>(static_cast<quint8>(bytes[0x17])) << 24);
    LnkBuilder::putU32(bytes, 0x14, (flags | set) & ~clear);
    return bytes;
}

// Everything a caller may ask of a link; run on every input that loads, so
// accessors are exercised on odd data too.
void touchEverything(const LnkFile &link)
{
    (void)link.targetPath(false);
    (void)link.targetPath(true);
    (void)link.name();
    (void)link.relativePath();
    (void)link.workingDirectory();
    (void)link.arguments();
    (void)link.iconLocation();
    (void)link.environmentTarget();
    (void)link.volume();
    (void)link.tracker();
    (void)link.extraBlockSignatures();
}

} // namespace

TEST(LnkFileSamples, EverySampleLoadsGivesItsTargetAndWritesBackIdentically)
{
    for (const SampleCase &c : kSamples) {
        SCOPED_TRACE(c.file);
        const QByteArray bytes = sample(QString::fromLatin1(c.file));
        ASSERT_FALSE(bytes.isEmpty());
        const LnkFile link = load(bytes);
        const QString local = QString::fromUtf16(c.local);
        EXPECT_EQ(link.targetPath(false), std::optional<QString>(local));
        EXPECT_EQ(link.targetPath(true), std::optional<QString>(c.unc ? QString::fromUtf16(c.unc) : local));
        EXPECT_EQ(link.serialize(), bytes);
    }
}

TEST(LnkFileSamples, StringsVolumeAndBlocks)
{
    const LnkFile file = load(sample(QStringLiteral("local_file.lnk")));
    EXPECT_EQ(file.relativePath(), QStringLiteral("..\\..\\..\\..\\Windows\\explorer.exe"));
    EXPECT_EQ(file.workingDirectory(), QStringLiteral("C:\\Windows"));
    ASSERT_TRUE(file.volume());
    EXPECT_EQ(file.volume()->driveType, 3u);
    ASSERT_TRUE(file.tracker());
    EXPECT_EQ(file.tracker()->machineId, QByteArray("stray-pc"));

    const LnkFile emoji = load(sample(QStringLiteral("local_emoji.lnk")));
    EXPECT_EQ(emoji.relativePath(), QString::fromUtf16(u".\\test\u2764\ufe0fand\U0001F370.txt"));

    // The block with a signature outside the documented list is kept and
    // skipped by its size; it is no environment block. The IDList has no
    // drive letter, so the target comes from the KnownFolder block (System)
    // and the items after its offset.
    const QByteArray extraBytes = sample(QStringLiteral("local_extra_0xa2000001.lnk"));
    const LnkFile extra = load(extraBytes);
    EXPECT_TRUE(extra.extraBlockSignatures().contains(0xA2000001u));
    EXPECT_FALSE(extra.environmentTarget());
    EXPECT_EQ(load(withFlags(extraBytes, LnkFlag::DisableKnownFolderTracking)).targetPath(false), QString());

    // The diacritic sample's working directory is UTF-16 and its ANSI
    // LinkInfo path is UTF-8: both read as the same Unicode.
    const LnkFile diacritic = load(sample(QStringLiteral("diacritic_symbols.lnk")));
    EXPECT_EQ(diacritic.workingDirectory(), QString::fromUtf16(u"D:\\\u00f6\u00f6\u00f6"));
}

TEST(LnkFileSamples, PathFromIdListAloneMatchesLinkInfo)
{
    // With LinkInfo ignored, the samples that have a drive IDList give the
    // same path from their items (long names from the BEEF0004 blocks).
    for (const char *name : {"local_file.lnk", "local_emoji.lnk", "diacritic_symbols.lnk", "local_disk.lnk",
                             "mounted_folder2_file2.lnk"}) {
        SCOPED_TRACE(name);
        const QByteArray bytes = sample(QString::fromLatin1(name));
        const auto withInfo = load(bytes).targetPath(false);
        const auto fromList = load(withFlags(bytes, LnkFlag::ForceNoLinkInfo)).targetPath(false);
        EXPECT_EQ(fromList, withInfo);
    }
}

TEST(LnkFileKnownAnswer, MsShllinkExampleParsesToTheDocumentedValues)
{
    ASSERT_EQ(kMsExample.size(), 0x1CB);
    const LnkFile link = load(kMsExample);
    EXPECT_EQ(link.linkFlags(), 0x0008009Bu);
    EXPECT_EQ(link.fileAttributes(), 0x20u);
    EXPECT_EQ(link.creationTime(), 0x01C91515F2EEE9D0ull);
    EXPECT_EQ(link.accessTime(), 0x01C91515F2EEE9D0ull);
    EXPECT_EQ(link.writeTime(), 0x01C91515F2EEE9D0ull);
    EXPECT_EQ(link.fileSize(), 0u);
    EXPECT_EQ(link.iconIndex(), 0);
    EXPECT_EQ(link.showCommand(), 1u);
    EXPECT_EQ(link.hotKey(), 0);
    EXPECT_EQ(link.targetPath(false), QStringLiteral("C:\\test\\a.txt"));
    EXPECT_EQ(link.targetPath(true), QStringLiteral("C:\\test\\a.txt"));
    EXPECT_EQ(load(withFlags(kMsExample, LnkFlag::ForceNoLinkInfo)).targetPath(false),
              QStringLiteral("C:\\test\\a.txt"));
    EXPECT_EQ(link.relativePath(), QStringLiteral(".\\a.txt"));
    EXPECT_EQ(link.workingDirectory(), QStringLiteral("C:\\test")); // the text says c:, the bytes C:
    EXPECT_FALSE(link.name());
    EXPECT_FALSE(link.arguments());
    ASSERT_TRUE(link.volume());
    EXPECT_EQ(link.volume()->driveType, 3u);
    EXPECT_EQ(link.volume()->serial, 0x307A8A81u);
    EXPECT_EQ(link.volume()->label, QString());
    ASSERT_TRUE(link.tracker());
    EXPECT_EQ(link.tracker()->machineId, QByteArray("chris-xps"));
    EXPECT_EQ(link.tracker()->droidVolume, hex("4078C79447FAC746B3565C2DC6B6D115"));
    EXPECT_EQ(link.extraBlockSignatures(), QList<quint32>{LnkBlock::Tracker});
    EXPECT_EQ(link.serialize(), kMsExample);
}

TEST(LnkFileKnownAnswer, WriterReproducesTheExamplesLinkInfoAndItems)
{
    // Our builders give the example's LinkInfo byte for byte, and the same
    // root and volume items; the file entries' FAT times match too.
    LnkTargetInfo info;
    info.winPath = QStringLiteral("c:\\test\\a.txt");
    info.driveSerial = 0x307A8A81;
    const auto location = LnkBuilder::parseWinPath(info.winPath);
    ASSERT_TRUE(location);
    EXPECT_EQ(LnkBuilder::linkInfo(*location, info), kMsExample.mid(0x10B, 0x3C));
    const auto list = LnkBuilder::idList(*location, info);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->mid(2, 0x14 + 0x19), kMsExample.mid(0x4E, 0x14 + 0x19));
    EXPECT_EQ(LnkBuilder::fatDateTime(0x01C91515F2EEE9D0ull),
              std::make_pair(quint16(0x392C), quint16(0xA369)));
}

TEST(LnkFileWrite, FatDateTimeRoundsUpToEvenSecondsWithinItsYears)
{
    // FILETIME of a POSIX time, with a fraction of a second in 100-ns ticks.
    const auto at = [](qint64 unixSeconds, quint64 ticks = 0) {
        return quint64(unixSeconds + 11644473600LL) * 10000000ULL + ticks;
    };
    struct Case
    {
        quint64 fileTime;
        quint16 date, time;
    };
    const Case cases[] = {
        {0, 0, 0},                           // not recorded
        {at(315532798), 0, 0},               // 1979-12-31 23:59:58: before FAT's years
        {at(315532799), 0x0021, 0},          // 23:59:59 goes up into 1980
        {at(315532800), 0x0021, 0},          // 1980-01-01 00:00:00
        {at(315532801), 0x0021, 1},          // an odd second goes up to the next even one
        {at(315532800, 5000000), 0x0021, 1}, // and so does a fraction
        {at(951782400), 0x285D, 0},          // 2000-02-29, a leap day
        {at(4354819198), 0xFF9F, 0xBF7D},    // 2107-12-31 23:59:58, the last FAT time
        {at(4354819199), 0, 0},              // rounds into 2108
    };
    for (const Case &c : cases)
        EXPECT_EQ(LnkBuilder::fatDateTime(c.fileTime), std::make_pair(c.date, c.time)) << c.fileTime;
}

namespace {

void appendUtf16z(QByteArray &out, const QString &s)
{
    for (QChar c : s)
        LnkBuilder::appendU16(out, c.unicode());
    LnkBuilder::appendU16(out, 0);
}

// A file item as Wine's _ILCreateFromFindDataW makes it: ANSI long name,
// empty short name, then FileStructW with zeros where Windows has the
// version and signature, and the offset of FileStructW in the last word.
QByteArray wineFileItem(const QString &name, bool folder)
{
    QByteArray item;
    LnkBuilder::appendU16(item, 0);
    item.append(folder ? '\x31' : '\x32');
    item.append('\0');
    LnkBuilder::appendU32(item, folder ? 0 : 1234);
    LnkBuilder::appendU16(item, 0x5A21);
    LnkBuilder::appendU16(item, 0x6000);
    LnkBuilder::appendU16(item, folder ? 0x10 : 0x20);
    item.append(AnsiCodec::encodeCp1252Lossy(name));
    item.append('\0');
    item.append('\0'); // no short name
    if (item.size() % 2)
        item.append('\0');
    const qsizetype at = item.size();
    LnkBuilder::appendU16(item, static_cast<quint16>(20 + 2 * (name.size() + 1) + 2));
    item.append(QByteArray(6, '\0'));
    item.append(QByteArray(8, '\x11'));
    item.append(QByteArray(4, '\0'));
    appendUtf16z(item, name);
    LnkBuilder::appendU16(item, static_cast<quint16>(at));
    item[0] = static_cast<char>(item.size());
    item[1] = static_cast<char>(item.size() >> 8);
    return item;
}

struct WineLink
{
    QStringList names{QStringLiteral("users"), QStringLiteral("Public"), QStringLiteral("app.exe")};
    bool idList = true;
    std::optional<QString> description = QStringLiteral("My App");
    std::optional<QString> relative = QStringLiteral("..\\app.exe");
    std::optional<QString> workDir = QStringLiteral("C:\\users\\Public");
};

// The bytes of a link as Wine's IPersistStream_Save writes them.
QByteArray wineBytes(const WineLink &w)
{
    quint32 flags = LnkFlag::IsUnicode | LnkFlag::HasLinkInfo;
    if (w.idList)
        flags |= LnkFlag::HasLinkTargetIDList;
    if (w.description)
        flags |= LnkFlag::HasName;
    if (w.workDir)
        flags |= LnkFlag::HasWorkingDir; // no HasRelativePath even with one written
    QByteArray out = kMsExample.left(0x4C);
    LnkBuilder::putU32(out, 0x14, flags);
    out.replace(0x18, 32, QByteArray(32, '\0')); // attributes, times, size
    if (w.idList) {
        QByteArray list = hex("14001F00E04FD020EA3A6910A2D808002B30309D");
        QByteArray drive(0x19, '\0');
        drive[0] = 0x19;
        drive[2] = 0x23;
        drive.replace(3, 3, "C:\\");
        list += drive;
        for (qsizetype i = 0; i < w.names.size(); ++i)
            list += wineFileItem(w.names[i], i + 1 < w.names.size());
        LnkBuilder::appendU16(list, 0);
        LnkBuilder::appendU16(out, static_cast<quint16>(list.size()));
        out += list;
    }
    const QByteArray path =
        AnsiCodec::encodeCp1252Lossy(QStringLiteral("C:\\") + w.names.join(QLatin1Char('\\')));
    const QByteArray label = "WINE";
    const quint32 volumeSize = 0x10 + label.size() + 1;
    QByteArray info;
    LnkBuilder::appendU32(info, 0x1C + volumeSize + path.size() + 1 + 1);
    LnkBuilder::appendU32(info, 0x1C);
    LnkBuilder::appendU32(info, 1);
    LnkBuilder::appendU32(info, 0x1C);
    LnkBuilder::appendU32(info, 0x1C + volumeSize);
    LnkBuilder::appendU32(info, 0);
    LnkBuilder::appendU32(info, 0x1C + volumeSize + path.size() + 1);
    LnkBuilder::appendU32(info, volumeSize);
    LnkBuilder::appendU32(info, 3);
    LnkBuilder::appendU32(info, 0x12345678);
    LnkBuilder::appendU32(info, 0x10);
    info += label + '\0' + path + '\0' + '\0';
    out += info;
    for (const auto &s : {w.description, w.relative, w.workDir}) {
        if (!s)
            continue;
        LnkBuilder::appendU16(out, static_cast<quint16>(s->size() + 1)); // Wine counts the NUL
        appendUtf16z(out, *s);
    }
    LnkBuilder::appendU32(out, 0);
    return out;
}

} // namespace

TEST(LnkFileWine, LinksWineWritesReadBackWithWinesTarget)
{
    const WineLink w;
    const QByteArray bytes = wineBytes(w);
    const LnkFile link = load(bytes);
    EXPECT_EQ(link.targetPath(false), QStringLiteral("C:\\users\\Public\\app.exe"));
    EXPECT_EQ(load(withFlags(bytes, LnkFlag::ForceNoLinkInfo)).targetPath(false),
              QStringLiteral("C:\\users\\Public\\app.exe"));
    EXPECT_TRUE(link.relativePathWithoutFlag());
    EXPECT_EQ(link.name(), QStringLiteral("My App"));
    EXPECT_EQ(link.relativePath(), QStringLiteral("..\\app.exe"));
    EXPECT_EQ(link.workingDirectory(), QStringLiteral("C:\\users\\Public"));
    EXPECT_EQ(link.volume()->label, QStringLiteral("WINE"));
    EXPECT_EQ(link.serialize(), bytes);

    // Without a relative path Wine's links are regular.
    WineLink plain;
    plain.relative.reset();
    EXPECT_FALSE(load(wineBytes(plain)).relativePathWithoutFlag());
    EXPECT_EQ(load(wineBytes(plain)).workingDirectory(), QStringLiteral("C:\\users\\Public"));
}

TEST(LnkFileWine, AccentsInAnsiLinkInfoAndFileStructW)
{
    WineLink w;
    w.names = {QStringLiteral("Caf\u00e9"), QStringLiteral("r\u00e9sum\u00e9.txt")};
    const QString expected = QStringLiteral("C:\\Caf\u00e9\\r\u00e9sum\u00e9.txt");
    EXPECT_EQ(load(wineBytes(w)).targetPath(false), expected);
    EXPECT_EQ(load(withFlags(wineBytes(w), LnkFlag::ForceNoLinkInfo)).targetPath(false), expected);
    w.idList = false; // Windows-1252 LinkInfo alone
    EXPECT_EQ(load(wineBytes(w)).targetPath(false), expected);

    // A name Wine could not store in ANSI: its LinkInfo holds '?', its
    // FileStructW the real name, which wins.
    WineLink cjk;
    cjk.names = {QStringLiteral("\u6570\u636e"), QStringLiteral("a.txt")};
    EXPECT_EQ(load(wineBytes(cjk)).targetPath(false), QStringLiteral("C:\\\u6570\u636e\\a.txt"));
}

TEST(LnkFileWine, SetTargetMakesTheRelativePathRegular)
{
    LnkFile link = load(wineBytes(WineLink{}));
    LnkTargetInfo target;
    target.winPath = QStringLiteral("c:\\users\\Public\\Desktop\\app2.exe");
    ASSERT_TRUE(link.setTarget(target, QStringLiteral("c:\\users\\Public\\Start Menu\\App.lnk")));
    const LnkFile again = load(link.serialize());
    EXPECT_FALSE(again.relativePathWithoutFlag());
    EXPECT_TRUE(again.linkFlags() & LnkFlag::HasRelativePath);
    EXPECT_EQ(again.relativePath(), QStringLiteral("..\\Desktop\\app2.exe"));
    EXPECT_EQ(again.workingDirectory(), QStringLiteral("C:\\users\\Public"));
    EXPECT_EQ(again.targetPath(false), QStringLiteral("C:\\users\\Public\\Desktop\\app2.exe"));
}

TEST(LnkFileTargets, EnvironmentVariablesAndNoTargetLinks)
{
    LnkTargetInfo target;
    target.winPath = QStringLiteral("c:\\Program Files\\App\\app.exe");
    auto make = [&](const QString &env) {
        LnkCreateOptions options;
        options.environmentTarget = env;
        auto created =
            LnkFile::create(target, QStringLiteral("c:\\Users\\Public\\Desktop\\App.lnk"), options);
        return std::get<LnkFile>(std::move(created)).serialize();
    };
    EXPECT_EQ(load(make(QStringLiteral("%programfiles%\\App2\\app.exe"))).targetPath(true),
              QStringLiteral("c:\\Program Files\\App2\\app.exe"));
    EXPECT_EQ(load(make(QStringLiteral("%SystemRoot%\\x;%ProgramFiles(x86)%"))).targetPath(true),
              QStringLiteral("c:\\Windows\\x;c:\\Program Files (x86)"));
    // A variable we cannot know: the other forms decide, and with none the
    // target cannot be judged.
    EXPECT_EQ(load(make(QStringLiteral("%NOSUCHVARIABLE%\\app.exe"))).targetPath(true),
              QStringLiteral("C:\\Program Files\\App\\app.exe"));
    LnkCreateOptions envOnly;
    envOnly.environmentTarget = QStringLiteral("%NOSUCHVARIABLE%\\app.exe");
    envOnly.idList = envOnly.linkInfo = envOnly.relativePath = false;
    const LnkFile onlyUnknown = load(
        std::get<LnkFile>(LnkFile::create(target, QStringLiteral("c:\\x\\App.lnk"), envOnly)).serialize());
    EXPECT_EQ(onlyUnknown.targetPath(true), std::nullopt);
    ASSERT_EQ(onlyUnknown.targetForms(true).size(), 1u);
    EXPECT_FALSE(onlyUnknown.targetForms(true)[0].formed);
    // A literal environment path defers to LinkInfo unless it is preferred.
    const QByteArray literal = make(QStringLiteral("D:\\elsewhere.exe"));
    EXPECT_EQ(load(literal).targetPath(true), QStringLiteral("C:\\Program Files\\App\\app.exe"));
    EXPECT_EQ(load(withFlags(literal, LnkFlag::PreferEnvironmentPath)).targetPath(true),
              QStringLiteral("D:\\elsewhere.exe"));
    // DisableLinkPathTracking ignores the block.
    EXPECT_EQ(load(withFlags(make(QStringLiteral("%USERPROFILE%\\a")), LnkFlag::DisableLinkPathTracking))
                  .targetPath(true),
              QStringLiteral("C:\\Program Files\\App\\app.exe"));
    // A percent sign that is not a variable reference stays a name.
    target.winPath = QStringLiteral("c:\\50%\\x.txt");
    EXPECT_EQ(load(std::get<LnkFile>(LnkFile::create(target, QString())).serialize()).targetPath(false),
              QStringLiteral("C:\\50%\\x.txt"));

    // MSI advertised links, and links with neither IDList nor LinkInfo,
    // have no file-system target.
    EXPECT_EQ(load(withFlags(kMsExample, LnkFlag::HasDarwinID)).targetPath(false), QString());
    QByteArray empty = kMsExample.left(0x4C) + QByteArray(4, '\0');
    LnkBuilder::putU32(empty, 0x14, 0);
    EXPECT_EQ(load(empty).targetPath(false), QString());
}

TEST(LnkFileAnsi, CodePageDecoding)
{
    EXPECT_EQ(AnsiCodec::decodeAnsi(QByteArray("caf\xe9 \x80")), QString::fromUtf16(u"caf\u00e9 \u20ac"));
    EXPECT_EQ(AnsiCodec::decodeAnsi(QByteArray("caf\xc3\xa9")), QString::fromUtf16(u"caf\u00e9"));
    // Overlong and surrogate forms are not UTF-8, so they read as 1252.
    EXPECT_EQ(AnsiCodec::decodeAnsi(QByteArray("\xc0\xaf")), QString::fromUtf16(u"\u00c0\u00af"));
    EXPECT_EQ(AnsiCodec::decodeAnsi(QByteArray("\xed\xa0\x80")), QString::fromUtf16(u"\u00ed\u00a0\u20ac"));
    EXPECT_EQ(AnsiCodec::encodeCp1252(QString::fromUtf16(u"\u20ac\u0178\u00ff")), QByteArray("\x80\x9f\xff"));
    EXPECT_FALSE(AnsiCodec::encodeCp1252(QString::fromUtf16(u"\u6570")));
    EXPECT_EQ(AnsiCodec::encodeCp1252Lossy(QString::fromUtf16(u"a\U0001F370b")), QByteArray("a??b"));
}

TEST(LnkFileDamage, MalformedStructuresGiveErrorsAtTheirOffsets)
{
    auto errorOf = [](const QByteArray &bytes) {
        auto parsed = LnkFile::parse(bytes);
        const auto *error = std::get_if<LnkError>(&parsed);
        return error ? error->offset : qint64(-1);
    };
    EXPECT_EQ(errorOf(QByteArray()), 0);
    EXPECT_EQ(errorOf(QByteArray("L\0\0\0", 4)), 4); // header cut short
    QByteArray wrongSize = kMsExample;
    wrongSize[0] = 0x4D;
    EXPECT_EQ(errorOf(wrongSize), 0);
    QByteArray wrongClass = kMsExample;
    wrongClass[5] = 0x15;
    EXPECT_EQ(errorOf(wrongClass), 4);

    QByteArray longList = kMsExample; // IDListSize past the end of the file
    longList[0x4D] = '\x7F';
    EXPECT_EQ(errorOf(longList), 0x4C);
    QByteArray oddItem = kMsExample; // ItemID size 1
    oddItem[0x62] = 1;
    EXPECT_EQ(errorOf(oddItem), 0x62);
    QByteArray longItem = kMsExample; // last item runs past the IDList
    longItem[0xC1] = 0x50;
    EXPECT_EQ(errorOf(longItem), 0xC1);

    QByteArray infoHeader = kMsExample; // LinkInfoHeaderSize beyond LinkInfoSize
    infoHeader[0x10F] = 0x40;
    EXPECT_EQ(errorOf(infoHeader), 0x10F);
    QByteArray localPath = kMsExample; // LocalBasePathOffset past LinkInfo
    localPath[0x11B] = 0x3C;
    EXPECT_EQ(errorOf(localPath), 0x11B);
    QByteArray volume = kMsExample; // VolumeIDSize past LinkInfo
    volume[0x127] = 0x7F;
    EXPECT_EQ(errorOf(volume), 0x117);
    QByteArray hugeVolume = kMsExample; // 32-bit size that would wrap a narrow sum
    hugeVolume.replace(0x127, 4, hex("FFFFFFFF"));
    EXPECT_EQ(errorOf(hugeVolume), 0x117);

    QByteArray longString = kMsExample; // WORKING_DIR count past the end
    longString[0x157] = '\x7F';
    EXPECT_EQ(errorOf(longString), 0x157);
    QByteArray smallBlock = kMsExample;
    smallBlock[0x167] = 6;
    EXPECT_EQ(errorOf(smallBlock), 0x167);
    QByteArray hugeBlock = kMsExample;
    hugeBlock.replace(0x167, 4, hex("FFFFFFFF"));
    EXPECT_EQ(errorOf(hugeBlock), 0x167);

    // Bytes after the terminal block are kept; a file that ends where the
    // next block would start still loads.
    const QByteArray garbage = kMsExample + "trailing";
    EXPECT_EQ(load(garbage).serialize(), garbage);
    EXPECT_EQ(load(kMsExample.left(0x1C7)).targetPath(false), QStringLiteral("C:\\test\\a.txt"));
}

TEST(LnkFileDamage, EveryTruncationAndByteChangeLoadsCleanlyOrFails)
{
    QList<QByteArray> inputs{kMsExample, wineBytes(WineLink{})};
    for (const SampleCase &c : kSamples)
        inputs << sample(QString::fromLatin1(c.file));
    for (const QByteArray &full : inputs) {
        for (qsizetype n = 0; n < full.size(); ++n) {
            // An exact-size copy, so a sanitizer build sees any over-read.
            const QByteArray cut(full.constData(), n);
            auto parsed = LnkFile::parse(cut);
            if (auto *link = std::get_if<LnkFile>(&parsed)) {
                touchEverything(*link);
                ASSERT_EQ(link->serialize(), cut);
            }
        }
        for (qsizetype i = 0; i < full.size(); ++i) {
            for (char value : {'\0', '\xFF', '\x7F'}) {
                QByteArray changed = full;
                changed[i] = value;
                auto parsed = LnkFile::parse(changed);
                if (auto *link = std::get_if<LnkFile>(&parsed))
                    touchEverything(*link);
            }
        }
    }
}
