#include "ProgramFixture.h"

#include <QDir>

namespace {

QByteArray sampleBytes(const QString &name)
{
    return readWholeFile(QByteArrayLiteral(LINKMEND_TEST_DATA "/lnk-samples/") + QFile::encodeName(name));
}

// The lines of `show`'s account of one file, from its path line to the
// blank line after it.
QStringList accountOf(const QByteArray &out, const QString &path)
{
    const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    const qsizetype start = lines.indexOf(path);
    if (start < 0)
        return {};
    qsizetype end = start + 1;
    while (end < lines.size() && !lines.at(end).isEmpty())
        ++end;
    return lines.mid(start, end - start);
}

// The value of the first line labelled `label` ("verdict"), without the label.
QString valueOf(const QStringList &lines, const QString &label)
{
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(label + QLatin1Char(':')))
            return line.trimmed().mid(label.size() + 1).trimmed();
    }
    return QString();
}

using ShowCommandTest = ProgramFixture;

TEST_F(ShowCommandTest, ShowsEveryFormOfTheRealSamplesAndWhyEachIsBrokenOrNot)
{
    // local_file.lnk points at C:\Windows\explorer.exe, which this c: holds.
    drives.writeFile(QStringLiteral("Windows/explorer.exe"), "explorer");
    for (const QString &name : {QStringLiteral("local_file.lnk"), QStringLiteral("recent1.lnk"),
                                QStringLiteral("net_folder1_file1.lnk"), QStringLiteral("uwp_calc.lnk"),
                                QStringLiteral("local_extra_0xa2000001.lnk")})
        drives.writeFile(QStringLiteral("Samples/") + name, sampleBytes(name));
    drives.writeFile(QStringLiteral("Samples/NotALink.lnk"), "not a shortcut");
    const auto before = snapshot();

    const Run result = run(
        {QStringLiteral("show"), path(QStringLiteral("Samples/local_file.lnk")),
         path(QStringLiteral("Samples/NotALink.lnk")), path(QStringLiteral("Samples/recent1.lnk")),
         path(QStringLiteral("Samples/net_folder1_file1.lnk")), path(QStringLiteral("Samples/uwp_calc.lnk")),
         path(QStringLiteral("Samples/local_extra_0xa2000001.lnk"))});
    // The file that is no shortcut is named on standard error; the others
    // are shown all the same.
    EXPECT_EQ(result.status, 2);
    ASSERT_EQ(result.errLines().size(), 1) << result.err.constData();
    EXPECT_TRUE(result.errLines().first().contains(QLatin1String("NotALink.lnk: not a shortcut")));

    const QStringList exists = accountOf(result.out, path(QStringLiteral("Samples/local_file.lnk")));
    EXPECT_EQ(valueOf(exists, QStringLiteral("Windows path")), QStringLiteral("c:\\Samples\\local_file.lnk"));
    EXPECT_TRUE(valueOf(exists, QStringLiteral("link flags")).contains(QLatin1String("HasLinkInfo")));
    EXPECT_EQ(valueOf(exists, QStringLiteral("target written")), QStringLiteral("2020-10-20 01:06:47 UTC"));
    EXPECT_EQ(valueOf(exists, QStringLiteral("LinkInfo local")),
              QStringLiteral("C:\\Windows\\explorer.exe   exists (file)"));
    EXPECT_TRUE(valueOf(exists, QStringLiteral("IDList")).contains(QLatin1String("explorer.exe   exists")));
    EXPECT_EQ(
        valueOf(exists, QStringLiteral("relative path")),
        QStringLiteral("..\\..\\..\\..\\Windows\\explorer.exe -> c:\\Windows\\explorer.exe   exists (file)"));
    EXPECT_EQ(valueOf(exists, QStringLiteral("the check uses")),
              QStringLiteral("C:\\Windows\\explorer.exe (LinkInfo local)   exists"));
    EXPECT_EQ(valueOf(exists, QStringLiteral("verdict")), QStringLiteral("not broken: its target exists"));

    const QStringList missing = accountOf(result.out, path(QStringLiteral("Samples/recent1.lnk")));
    EXPECT_TRUE(valueOf(missing, QStringLiteral("LinkInfo local")).endsWith(QLatin1String("missing")));
    EXPECT_EQ(valueOf(missing, QStringLiteral("verdict")),
              QStringLiteral("broken: no form of its target exists, and it was not found "
                             "elsewhere"));

    const QStringList share = accountOf(result.out, path(QStringLiteral("Samples/net_folder1_file1.lnk")));
    EXPECT_TRUE(valueOf(share, QStringLiteral("LinkInfo network"))
                    .contains(QLatin1String("\\\\192.168.138.2\\STORAGE\\Downloads\\folder1\\file1.txt")));
    EXPECT_TRUE(valueOf(share, QStringLiteral("verdict")).contains(QLatin1String("--ignore-remote")));

    const QStringList virtualItem = accountOf(result.out, path(QStringLiteral("Samples/uwp_calc.lnk")));
    EXPECT_TRUE(
        valueOf(virtualItem, QStringLiteral("verdict")).contains(QLatin1String("no file-system target")));

    // Without LinkInfo, the IDList names the target.
    const QStringList idList =
        accountOf(result.out, path(QStringLiteral("Samples/local_extra_0xa2000001.lnk")));
    EXPECT_EQ(valueOf(idList, QStringLiteral("IDList")),
              QStringLiteral("c:\\Windows\\system32\\cmd.exe   missing"));
    EXPECT_TRUE(valueOf(idList, QStringLiteral("verdict")).startsWith(QLatin1String("broken")));

    EXPECT_EQ(snapshot(), before);
}

TEST_F(ShowCommandTest, AMovedTargetIsShownAsTheRepairACheckWouldMakeAndNothingIsWritten)
{
    drives.writeFile(QStringLiteral("Apps/Old/mover.exe"), "a program that moves");
    const QString moved =
        shortcutToExisting(QStringLiteral("Desktop/Moved.lnk"), QStringLiteral("Apps/Old/mover.exe"));
    move(QStringLiteral("Apps/Old/mover.exe"), QStringLiteral("Apps/New/mover.exe"));
    const auto before = snapshot();

    const Run result = run({QStringLiteral("show"), QStringLiteral("c:\\desktop\\moved.lnk")});
    EXPECT_EQ(result.status, 0) << result.err.constData();
    const QStringList account = accountOf(result.out, moved);
    EXPECT_EQ(valueOf(account, QStringLiteral("the check uses")),
              QStringLiteral("C:\\Apps\\New\\mover.exe (found again)   exists"));
    EXPECT_TRUE(valueOf(account, QStringLiteral("verdict"))
                    .startsWith(QLatin1String("not broken: its target moved to "
                                              "c:\\Apps\\New\\mover.exe")));
    EXPECT_EQ(snapshot(), before);
}

class TrashCommandTest : public ProgramFixture
{
protected:
    TrashCommandTest()
    {
        first = shortcut(QStringLiteral("Desktop/Gone One.lnk"), QStringLiteral("C:\\Gone\\one.exe"));
        second = shortcut(QStringLiteral("Desktop/Gone Two.lnk"), QStringLiteral("C:\\Gone\\two.exe"));
    }
    QByteArray trash() const { return QFile::encodeName(home.path()) + "/data/Trash"; }

    QString first, second;
};

TEST_F(TrashCommandTest, MovesShortcutsToTheTrashFromWhereTheyCanBeRestored)
{
    const QByteArray bytes = readWholeFile(QFile::encodeName(first));
    const Run result = run({QStringLiteral("trash"), QStringLiteral("--yes"), first});
    EXPECT_EQ(result.status, 0) << result.err.constData();
    EXPECT_EQ(result.out, ("moved to the trash: " + first + QLatin1Char('\n')).toUtf8());
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_TRUE(QFile::exists(second));

    EXPECT_EQ(readWholeFile(trash() + "/files/Gone One.lnk"), bytes);
    const QByteArray info = readWholeFile(trash() + "/info/Gone One.lnk.trashinfo");
    EXPECT_TRUE(info.startsWith("[Trash Info]\n")) << info.constData();
    QByteArray original;
    for (const QByteArray &line : info.split('\n')) {
        if (line.startsWith("Path="))
            original = QByteArray::fromPercentEncoding(line.mid(5));
    }
    EXPECT_EQ(original, QFile::encodeName(first));
}

TEST_F(TrashCommandTest, AsksFirstAndMovesNothingUnlessTheAnswerIsYes)
{
    for (const QByteArray &answer : {QByteArray("n\n"), QByteArray(), QByteArray("yes please\n")}) {
        const Run declined = run({QStringLiteral("trash"), first, second}, answer);
        EXPECT_EQ(declined.status, 1);
        EXPECT_TRUE(declined.err.contains("Move these 2 files to the trash? [y/N]"))
            << declined.err.constData();
        EXPECT_TRUE(declined.out.isEmpty());
        EXPECT_TRUE(QFile::exists(first) && QFile::exists(second));
    }
    const Run agreed = run({QStringLiteral("trash"), first}, "y\n");
    EXPECT_EQ(agreed.status, 0);
    EXPECT_TRUE(agreed.err.contains("Move " + QFile::encodeName(first) + " to the trash? [y/N]"));
    EXPECT_FALSE(QFile::exists(first));
}

TEST_F(TrashCommandTest, MovesNothingWhenAFileIsNoShortcut)
{
    drives.writeFile(QStringLiteral("Desktop/Notes.lnk"), "just text");
    drives.makeFolder(QStringLiteral("Desktop/Folder.lnk"));
    for (const QString &bad :
         {path(QStringLiteral("Desktop/Notes.lnk")), path(QStringLiteral("Desktop/Folder.lnk")),
          path(QStringLiteral("Desktop/Missing.lnk"))}) {
        const Run result = run({QStringLiteral("trash"), QStringLiteral("--yes"), first, bad});
        EXPECT_EQ(result.status, 2) << bad.toStdString();
        EXPECT_TRUE(result.err.contains(QFile::encodeName(bad))) << result.err.constData();
        EXPECT_TRUE(QFile::exists(first));
    }
    EXPECT_FALSE(QDir(QFile::decodeName(trash() + "/files")).exists() &&
                 !QDir(QFile::decodeName(trash() + "/files")).isEmpty());
}

} // namespace
