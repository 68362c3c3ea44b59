#include "app/StartupFiles.h"
#include "controls/BusyAnimation.h"
#include "resources/Resources.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<QByteArray> lines(const QByteArray &page)
{
    return page.split('\n');
}

QString folderOf(const TempDrives &machine)
{
    return QFile::decodeName(machine.cacheHome()) + "/linkmend";
}

void plantLink(const QString &target, const QString &at)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

TEST(StartupFiles, CommonDocumentsFolderIsAPrivateCacheFolder)
{
    TempDrives machine;
    const QString folder = GetCommonDocumentsFolder();
    EXPECT_EQ(folder, folderOf(machine));
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(GetCommonDocumentsFolder(), folder); // already there: no failure
}

TEST(StartupFiles, CommonDocumentsFolderIsEmptyWhenItCannotBeMade)
{
    TempDrives machine;
    QFile blocker(folderOf(machine));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(GetCommonDocumentsFolder().isEmpty());

    const StartupFiles::Result result = StartupFiles::writeAll();
    EXPECT_FALSE(result.pageWritten || result.pictureWritten);
    EXPECT_EQ(result.error,
              QStringLiteral("Cannot create file \"%1/ht.htm\". Not a directory").arg(folderOf(machine)));
}

TEST(StartupFiles, PageKeepsEveryLineButThePicturePath)
{
    TempDrives machine;
    const StartupFiles::Result result = StartupFiles::writeAll();
    ASSERT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_TRUE(result.pageWritten && result.pictureWritten);
    EXPECT_EQ(result.pagePath, folderOf(machine) + "/ht.htm");
    EXPECT_EQ(result.picturePath, folderOf(machine) + "/savedata/example.gif");

    const QByteArray page = readWholeFile(QFile::encodeName(result.pagePath));
    const QByteArray original = Resources::data(QStringLiteral("UNTITLED3"));
    ASSERT_EQ(original.size(), 269);
    ASSERT_TRUE(original.endsWith("\r\n\r\n"));
    const QList<QByteArray> got = lines(page), want = lines(original);
    ASSERT_EQ(got.size(), 20); // 19 CR LF lines, then nothing
    ASSERT_EQ(want.size(), 20);
    for (int i = 0; i < 20; ++i) {
        if (i != 14) {
            EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
        }
    }
    const QByteArray pictureUrl = QUrl::fromLocalFile(result.picturePath).toEncoded();
    EXPECT_EQ(got[14], "  <body background\t= \"" + pictureUrl + "\";>\r");
    EXPECT_EQ(page.size(),
              original.size() - qsizetype(strlen("c:\\savedata\\example.gif")) + pictureUrl.size());

    EXPECT_EQ(readWholeFile(QFile::encodeName(result.picturePath)),
              Resources::data(QStringLiteral("EXAMPLE")));
}

TEST(StartupFiles, PicturePathCannotBreakOutOfThePage)
{
    const QByteArray original = Resources::data(QStringLiteral("UNTITLED3"));
    const QByteArray page =
        StartupFiles::pageFor(original, QStringLiteral("/tmp/a \"b\" & <c>'d/\u00e9.gif"));
    const QByteArray line = lines(page)[14];
    EXPECT_EQ(line, "  <body background\t= \"file:///tmp/a%20%22b%22%20%26%20%3Cc%3E%27d/%C3%A9.gif\";>\r");
    for (char c : page)
        EXPECT_TRUE(uchar(c) < 0x80);
    EXPECT_THROW(StartupFiles::pageFor("<html>\r\n</html>\r\n", QStringLiteral("/x.gif")),
                 std::runtime_error);
}

TEST(StartupFiles, SecondStartReplacesBothFilesAndLeavesNothingElse)
{
    TempDrives machine;
    StartupFiles::writeAll();
    const StartupFiles::Result first = StartupFiles::writeAll();
    ASSERT_TRUE(first.error.isEmpty());
    for (const QString &path : {first.pagePath, first.picturePath}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("stale");
    }
    const StartupFiles::Result second = StartupFiles::writeAll();
    EXPECT_TRUE(second.error.isEmpty());
    EXPECT_EQ(readWholeFile(QFile::encodeName(second.picturePath)),
              Resources::data(QStringLiteral("example")));
    EXPECT_TRUE(readWholeFile(QFile::encodeName(second.pagePath)).startsWith("<!DOCTYPE HTML PUBLIC"));
    // No temporary files are left behind.
    EXPECT_EQ(QDir(folderOf(machine)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("ht.htm"), QStringLiteral("savedata")}));
    EXPECT_EQ(QDir(folderOf(machine) + "/savedata")
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("example.gif")}));
}

TEST(StartupFiles, SymbolicLinksAtEitherNameAreReplacedNotFollowed)
{
    TempDrives machine;
    const QString folder = folderOf(machine);
    ASSERT_TRUE(QDir().mkpath(folder + "/savedata"));
    // Someone else's files the links point at, and a link to nowhere.
    machine.writeFile(QStringLiteral("victim1.txt"), "keep me");
    machine.writeFile(QStringLiteral("victim2.txt"), "keep me too");
    const QString victim1 = QFile::decodeName(machine.posix(QStringLiteral("victim1.txt")));
    const QString victim2 = QFile::decodeName(machine.posix(QStringLiteral("victim2.txt")));
    plantLink(victim1, folder + "/ht.htm");
    plantLink(victim2, folder + "/savedata/example.gif");

    StartupFiles::Result result = StartupFiles::writeAll();
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(readWholeFile(QFile::encodeName(victim1)), "keep me");
    EXPECT_EQ(readWholeFile(QFile::encodeName(victim2)), "keep me too");
    EXPECT_FALSE(isLink(result.pagePath));
    EXPECT_FALSE(isLink(result.picturePath));
    EXPECT_EQ(readWholeFile(QFile::encodeName(result.picturePath)),
              Resources::data(QStringLiteral("example")));

    // A dangling link would have created its target.
    const QString nowhere = QFile::decodeName(machine.posix(QStringLiteral("created-by-link")));
    QFile::remove(result.pagePath);
    plantLink(nowhere, result.pagePath);
    result = StartupFiles::writeAll();
    EXPECT_TRUE(result.pageWritten);
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_FALSE(isLink(result.pagePath));
}

TEST(StartupFiles, FailedWriteIsReportedOnceAndTheRestStillHappens)
{
    TempDrives machine;
    const QString folder = folderOf(machine);
    ASSERT_TRUE(QDir().mkpath(folder));
    // A file where the picture folder belongs: the picture cannot be written.
    QFile blocker(folder + "/savedata");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const StartupFiles::Result result = StartupFiles::writeAll();
    EXPECT_TRUE(result.pageWritten);
    EXPECT_FALSE(result.pictureWritten);
    EXPECT_EQ(result.error,
              QStringLiteral("Cannot create file \"%1/savedata/example.gif\". Not a directory").arg(folder));

    // At start-up the failure surfaces once, after every step was tried, and
    // the indicator stays empty so the still picture shows.
    BusyAnimation indicator;
    try {
        StartupFiles::startUp(indicator);
        FAIL() << "no error";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), result.error);
    }
    EXPECT_FALSE(indicator.isStarted());
    EXPECT_TRUE(QFileInfo::exists(result.pagePath));
}

TEST(StartupFiles, StartUpPlaysTheWrittenPicture)
{
    TempDrives machine;
    BusyAnimation indicator;
    const StartupFiles::Result result = StartupFiles::startUp(indicator);
    EXPECT_TRUE(result.animationStarted);
    EXPECT_TRUE(indicator.isStarted());
    EXPECT_EQ(indicator.frameCount(), 5);
}

TEST(StartupFiles, ExtractResourceToFileWritesTheWholeResource)
{
    TempDrives machine;
    const QString path = QFile::decodeName(machine.posix(QStringLiteral("sphere.jpg")));
    ExtractResourceToFile(QStringLiteral("Sphere"), path);
    EXPECT_EQ(readWholeFile(QFile::encodeName(path)), Resources::data(QStringLiteral("SPHERE")));
    EXPECT_THROW(ExtractResourceToFile(QStringLiteral("NoSuchThing"), path), ResourceNotFound);
    try {
        ExtractResourceToFile(QStringLiteral("Sphere"), path + "/missing/x.jpg");
        FAIL() << "no error";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  QStringLiteral("Cannot create file \"%1/missing/x.jpg\". Not a directory").arg(path));
    }
}

} // namespace
