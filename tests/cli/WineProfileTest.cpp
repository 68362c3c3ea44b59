#include "cli/ProgramFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace {

// The drive as Wine shows it: the folders a prefix links into its profiles,
// and another drive's folder nested in this one, are this drive's folders.
class WineProfileTest : public ProgramFixture
{
protected:
    WineProfileTest()
    {
        // As wineboot leaves a profile when only ~/Desktop and ~/Documents
        // exist: those two are linked, Music and the templates folder lead
        // to the home folder itself.
        user = QFile::encodeName(home.path()) + "/ann";
        QDir().mkpath(QFile::decodeName(user + "/Desktop"));
        QDir().mkpath(QFile::decodeName(user + "/Documents/2024"));
        drives.makeFolder(QStringLiteral("users/ann/AppData/Roaming/Microsoft/Windows"));
        link(user + "/Desktop", QStringLiteral("users/ann/Desktop"));
        link(user + "/Documents", QStringLiteral("users/ann/Documents"));
        link(user, QStringLiteral("users/ann/Music"));
        link(user, QStringLiteral("users/ann/AppData/Roaming/Microsoft/Windows/Templates"));
    }

    void link(const QByteArray &to, const QString &at) const
    {
        ASSERT_EQ(::symlink(to.constData(), drives.posix(at).constData()), 0);
    }

    // `repair --json` on `where`: the report.
    QJsonObject repair(const QString &where)
    {
        const Run result = run({QStringLiteral("repair"), QStringLiteral("--json"), where});
        return QJsonDocument::fromJson(result.out).object();
    }

    static QStringList windowsPaths(const QJsonObject &report, const QString &list)
    {
        QStringList paths;
        for (const QJsonValue &entry : report.value(list).toArray())
            paths << entry.toObject().value(QStringLiteral("windowsPath")).toString().toLower();
        return paths;
    }

    QByteArray user;
};

TEST_F(WineProfileTest, AShortcutOnTheLinkedDesktopIsRepairedInItsRealFolderAndNamedByItsShortestPath)
{
    drives.writeFile(QStringLiteral("users/ann/Documents/report.odt"), "12345");
    shortcutToExisting(QStringLiteral("users/ann/Desktop/Report.lnk"),
                       QStringLiteral("users/ann/Documents/report.odt"));
    shortcut(QStringLiteral("users/ann/Desktop/Gone.lnk"), QStringLiteral("C:\\Gone\\gone.exe"));
    move(QStringLiteral("users/ann/Documents/report.odt"),
         QStringLiteral("users/ann/Documents/2024/report.odt"));
    const QByteArray before = readWholeFile(user + "/Desktop/Report.lnk");

    const QJsonObject report = repair(QStringLiteral("c:"));
    // Reached by four paths (Desktop, Music\Desktop, Templates\Desktop),
    // reported once, by the one a user knows.
    EXPECT_EQ(windowsPaths(report, QStringLiteral("broken")),
              QStringList{QStringLiteral("c:\\users\\ann\\desktop\\gone.lnk")});
    const QJsonArray repairs = report.value(QStringLiteral("repairs")).toArray();
    ASSERT_EQ(repairs.size(), 1);
    const QJsonObject repair = repairs.first().toObject();
    EXPECT_EQ(repair.value(QStringLiteral("windowsPath")).toString().toLower(),
              QStringLiteral("c:\\users\\ann\\desktop\\report.lnk"));
    EXPECT_EQ(repair.value(QStringLiteral("newTarget")).toString().toLower(),
              QStringLiteral("c:\\users\\ann\\documents\\2024\\report.odt"));
    EXPECT_TRUE(repair.value(QStringLiteral("written")).toBool());
    EXPECT_NE(readWholeFile(user + "/Desktop/Report.lnk"), before);
    struct stat st;
    ASSERT_EQ(::lstat(drives.posix(QStringLiteral("users/ann/Desktop")).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link itself is left as it is";
    EXPECT_EQ(QDir(QFile::decodeName(user + "/Desktop")).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("Gone.lnk"), QStringLiteral("Report.lnk")}));
}

TEST_F(WineProfileTest, ATargetMovedWithinAnotherDrivesNestedFolderIsFoundOnThisDrive)
{
    drives.writeFile(QStringLiteral("Data/old/plan.txt"), "12345");
    drives.mapLetter(QLatin1Char('e'), drives.posix(QStringLiteral("Data")));
    shortcutToExisting(QStringLiteral("links/plan.lnk"), QStringLiteral("Data/old/plan.txt"));
    move(QStringLiteral("Data/old/plan.txt"), QStringLiteral("Data/new/plan.txt"));

    const QJsonObject report = repair(QStringLiteral("c:\\links"));
    EXPECT_TRUE(report.value(QStringLiteral("broken")).toArray().isEmpty());
    const QJsonArray repairs = report.value(QStringLiteral("repairs")).toArray();
    ASSERT_EQ(repairs.size(), 1);
    EXPECT_EQ(repairs.first().toObject().value(QStringLiteral("newTarget")).toString().toLower(),
              QStringLiteral("c:\\data\\new\\plan.txt"));
}

} // namespace
