#include "winpath/WinPathText.h"

#include <gtest/gtest.h>

using namespace WinPathText;

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

TEST(WinPathText, DrivePartsAndWhetherTwoPathsShareADrive)
{
    const std::pair<const char *, const char *> parts[] = {
        {"c:\\dir\\x.lnk", "c:"},
        {"C:", "C:"},
        {"c:x.lnk", "c:"}, // drive-relative, still on c:
        {"\\\\?\\C:\\dir\\x.lnk", "C:"},
        {"//?/c:/dir", "c:"},
        {"\\\\?\\UNC\\srv\\share\\dir", "\\\\srv\\share"},
        {"\\\\srv\\share\\dir\\x", "\\\\srv\\share"},
        {"\\\\srv\\share\\", "\\\\srv\\share"},
        {"//srv/share/x", "\\\\srv\\share"},
        {"\\\\srv", "\\\\srv"},
        {"\\\\srv\\", "\\\\srv"},
        {"\\\\?\\Volume{1}\\x", "\\\\?\\Volume{1}"},
        {"\\x\\y", ""},
        {"dir\\x", ""},
        {"1:\\x", ""},
        {"", ""},
    };
    for (const auto &[path, drive] : parts)
        EXPECT_EQ(drivePart(s(path)), s(drive)) << path;

    const std::tuple<const char *, const char *, bool> pairs[] = {
        {"c:\\a.lnk", "C:\\b\\c.exe", true},
        {"c:\\a.lnk", "\\\\?\\C:\\b\\c.exe", true}, // not a remote target
        {"\\\\Srv\\Share\\a", "\\\\?\\UNC\\srv\\share\\b", true},
        {"\\\\srv\\share\\a", "//SRV/SHARE/b", true},
        {"c:\\a.lnk", "d:\\a.lnk", false},
        {"c:\\a.lnk", "\\\\srv\\share\\a.lnk", false},
        {"\\\\srv\\one\\a", "\\\\srv\\two\\a", false},
        {"a.lnk", "b.lnk", false}, // no drive at all
    };
    for (const auto &[a, b, same] : pairs) {
        EXPECT_EQ(sameDrive(s(a), s(b)), same) << a << " / " << b;
        EXPECT_EQ(sameDrive(s(b), s(a)), same) << b << " / " << a;
    }
}

TEST(WinPathText, NormalisedPathsFollowWindowsRules)
{
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\dir\\setup.exe.", "C:\\dir\\setup.exe"},
        {"c:\\DIR \\setup.exe", "c:\\DIR\\setup.exe"},
        {"c:\\a. . \\b", "c:\\a\\b"},
        {"c:/a//b/", "c:\\a\\b"},
        {"c:\\a\\.\\b\\..\\c", "c:\\a\\c"},
        {"c:\\a\\..\\..\\..", "c:\\"},
        {"c:\\a\\...\\b", "c:\\a\\b"}, // dots only: no name at all
        {"c:\\.hidden\\x", "c:\\.hidden\\x"},
        {"c:\\..x..\\y", "c:\\..x\\y"},
        {"\\\\?\\C:\\dir\\x", "C:\\dir\\x"},
        {"\\\\?\\UNC\\srv\\share\\x.", "\\\\srv\\share\\x"},
        {"\\\\srv\\share\\..\\x", "\\\\srv\\share\\x"},
        {"\\\\srv\\share\\", "\\\\srv\\share"},
        // Without a root nothing is changed.
        {"c:x.", "c:x."},
        {"dir\\x.", "dir\\x."},
        {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0"},
        {"\\\\srv", "\\\\srv"},
    };
    for (const auto &[path, plain] : cases) {
        EXPECT_EQ(normalized(s(path)), s(plain)) << path;
        EXPECT_EQ(normalized(s(plain)), s(plain)) << plain;
    }

    EXPECT_EQ(normalizedName(s("..")), s(".."));
    EXPECT_EQ(normalizedName(s(" a b . ")), s(" a b"));
    EXPECT_FALSE(sameName(s("Straße. "), s("STRASSE"))); // simple folding: ß is not ss
    EXPECT_TRUE(sameName(s("ÄRGER."), s("ärger")));
    EXPECT_EQ(asciiLower(s("C:\\ÄB\\Cd")), s("c:\\Äb\\cd"));
}

TEST(WinPathText, WithinComparesWholeNamesOnOneDrive)
{
    const std::tuple<const char *, const char *, bool> cases[] = {
        {"c:\\a", "c:\\a", true},
        {"c:\\a", "c:\\a\\b\\c.lnk", true},
        {"c:\\a\\", "c:\\a\\b", true},
        {"c:\\", "c:\\a", true},
        {"c:", "c:\\a", true},
        {"C:\\A", "c:\\a\\b", true},
        {"c:\\Ärger", "c:\\äRGER\\x", true},
        {"c:\\a.", "c:\\a \\b", true},
        {"\\\\?\\C:\\a", "c:/a/b", true},
        {"c:\\a\\..\\b", "c:\\b\\x", true},
        {"\\\\srv\\share", "\\\\SRV\\share\\x", true},
        {"c:\\a", "c:\\ab", false},
        {"c:\\ab", "c:\\a", false},
        {"c:\\a\\b", "c:\\a", false},
        {"c:\\a", "d:\\a\\b", false},
        {"\\\\srv\\share", "\\\\srv\\other\\x", false},
        {"c:\\a", "a\\b", false},
        {"a", "a\\b", false},
    };
    for (const auto &[outer, inner, within] : cases)
        EXPECT_EQ(isWithin(s(outer), s(inner)), within) << inner << " in " << outer;
}

TEST(WinPathText, FolderPartFinalNameAndJoin)
{
    const std::tuple<const char *, const char *, const char *> cases[] = {
        // path, folder part, final name
        {"c:\\Users\\Public\\Desktop\\Old.lnk", "c:\\Users\\Public\\Desktop\\", "Old.lnk"},
        {"c:\\Old.lnk", "c:\\", "Old.lnk"},
        {"c:/a/b.lnk", "c:/a/", "b.lnk"},
        {"c:Old.lnk", "c:", "Old.lnk"},
        {"Old.lnk", "", "Old.lnk"},
        {"c:\\a\\Folder\\", "c:\\a\\Folder\\", "Folder"},
        {"\\\\srv\\share\\", "\\\\srv\\share\\", ""},
        {"\\\\?\\C:\\", "\\\\?\\C:\\", ""},
    };
    for (const auto &[path, folder, name] : cases) {
        EXPECT_EQ(folderPart(s(path)), s(folder)) << path;
        EXPECT_EQ(finalName(s(path)), s(name)) << path;
    }
    EXPECT_EQ(join(s("c:\\a"), s("b.lnk")), s("c:\\a\\b.lnk"));
    EXPECT_EQ(join(s("c:\\"), s("b.lnk")), s("c:\\b.lnk"));
    EXPECT_EQ(join(s("c:/a/"), s("b")), s("c:/a/b"));
    EXPECT_EQ(join(QString(), s("b")), s("b"));
}

TEST(WinPathText, RootsAndRelativePaths)
{
    for (const char *root : {"C:", "c:\\", "C:\\\\", "c:\\..", "\\\\server\\share", "\\\\server\\share\\",
                             "//srv/share/", "\\\\?\\C:\\", "\\\\?\\UNC\\srv\\share"})
        EXPECT_TRUE(isRoot(s(root))) << root;
    for (const char *notRoot : {"C:\\x", "\\\\server\\share\\x", "\\\\server", "C:x", "x", "", "\\\\.\\C:"})
        EXPECT_FALSE(isRoot(s(notRoot))) << notRoot;

    struct Case
    {
        const char *relative;
        const char *shortcut;
        const char *placed; // empty: nothing
    };
    const Case cases[] = {
        {"..\\a.txt", "c:\\x\\y\\s.lnk", "c:\\x\\a.txt"},
        {".\\a.txt", "c:\\x\\s.lnk", "c:\\x\\a.txt"},
        {"..\\..\\..\\..", "c:\\x\\s.lnk", "c:\\"}, // never above the root
        {"a/b\\..\\c", "c:\\x\\s.lnk", "c:\\x\\a\\c"},
        {"\\top\\a.txt", "d:\\x\\s.lnk", "d:\\top\\a.txt"},
        {"E:\\abs\\a.txt", "c:\\x\\s.lnk", "E:\\abs\\a.txt"},
        {"\\\\?\\E:\\abs\\a.txt", "c:\\x\\s.lnk", "E:\\abs\\a.txt"},
        {"..\\a", "\\\\srv\\share\\x\\s.lnk", "\\\\srv\\share\\a"},
        {"..\\..", "\\\\srv\\share\\x\\s.lnk", "\\\\srv\\share"},
        {"..\\a", "\\\\?\\C:\\x\\y\\s.lnk", "C:\\x\\a"},
        {"E:drive-relative", "c:\\x\\s.lnk", ""},
        {"\\\\.\\device", "c:\\x\\s.lnk", ""},
        {"a.txt", "s.lnk", ""},
        {"", "c:\\x\\s.lnk", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(placeRelative(s(c.relative), s(c.shortcut)).value_or(QString()), s(c.placed))
            << c.relative << " from " << c.shortcut;
    }
}

} // namespace
