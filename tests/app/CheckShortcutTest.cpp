#include "ScanFixture.h"

#include <gtest/gtest.h>

namespace {

const QString Shortcut = QStringLiteral("c:\\Tools\\Old\\Editor.lnk");

// How the window takes one judged shortcut, against a fake judge whose
// verdicts follow the temporary drives c: and d:.
class CheckShortcutTest : public ScanFixture
{
protected:
    CheckShortcutTest()
    {
        results.ShortcutPaths = std::make_unique<QStringList>();
        drives.writeFile(QStringLiteral("Tools/app.exe"), "x");
    }

    // Checks a shortcut whose link holds `target`; true when it was recorded.
    bool broken(const QString &target, FakeLink link = {})
    {
        link.target = target;
        links.links.insert(Shortcut, link);
        const qint32 before = results.BrokenCount;
        QString targetPath;
        scan.CheckShortcut(Shortcut, targetPath);
        EXPECT_EQ(targetPath, link.notShortcut || link.unjudged ? QString() : target);
        return results.BrokenCount == before + 1;
    }
};

TEST_F(CheckShortcutTest, OnlyBrokenVerdictsAreRecordedInEveryListInOrder)
{
    EXPECT_FALSE(broken(QStringLiteral("C:\\Tools\\app.exe")));
    EXPECT_FALSE(broken(QString())); // no file-system target
    FakeLink unjudged;
    unjudged.unjudged = true;
    EXPECT_FALSE(broken(QStringLiteral("c:\\Tools\\gone.exe"), unjudged));
    FakeLink notShortcut;
    notShortcut.notShortcut = true;
    EXPECT_FALSE(broken(QStringLiteral("c:\\Tools\\gone.exe"), notShortcut));
    EXPECT_TRUE(host.listBox.isEmpty());

    host.log.clear();
    EXPECT_TRUE(broken(QStringLiteral("c:\\Tools\\gone.exe")));
    EXPECT_EQ(host.changes(),
              (QStringList{QStringLiteral("judge ") + Shortcut, QStringLiteral("ListBox1 += ") + Shortcut,
                           QStringLiteral("CheckListBox1 += ") + Shortcut}));
    EXPECT_EQ(*results.ShortcutPaths, QStringList{Shortcut});
    EXPECT_EQ(results.BrokenCount, 1);
    EXPECT_EQ(host.ticks, QList<bool>{false});
}

TEST_F(CheckShortcutTest, IgnoreRemoteIsReadWhenEachShortcutIsJudged)
{
    for (const bool ticked : {false, true}) {
        SCOPED_TRACE(ticked ? "ticked" : "unticked");
        host.ignoreRemote = ticked;
        EXPECT_TRUE(broken(QStringLiteral("c:\\Old\\tool.exe")));
        EXPECT_EQ(broken(QStringLiteral("d:\\Old\\tool.exe")), !ticked);
    }
}

TEST_F(CheckShortcutTest, RecordsNothingOnceTheWindowIsClosing)
{
    // The window closes while the judge searches (its progress hook
    // dispatches events) and releases the list.
    links.links.insert(Shortcut, linkTo(QStringLiteral("c:\\gone.exe"), [this] {
                           host.isClosing = true;
                           results.ShortcutPaths.reset();
                       }));
    QString targetPath;
    scan.CheckShortcut(Shortcut, targetPath);
    EXPECT_EQ(results.BrokenCount, 0);
    EXPECT_TRUE(host.listBox.isEmpty());
    EXPECT_TRUE(host.checkList.isEmpty());
}

} // namespace
