// The start-up files against a cache folder someone prepared: hard links and
// symbolic links planted at the page, the picture and their folders, a
// read-only cache folder, none at all. No write may land anywhere but the
// program's own two files, and the window gets its buttons all the same.
// (StartupFilesTest covers symbolic links at the two file names.)

#include "QuietDialogs.h"
#include "app/Dialogs.h"
#include "app/StartupFiles.h"
#include "app/TForm2.h"
#include "controls/BusyAnimation.h"
#include "controls/ImageButton.h"
#include "resources/Resources.h"
#include "support/TempDrives.h"
#include "support/UnprivilegedFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a tree holds, entry by entry, without following symbolic links.
struct Entry
{
    QByteArray contents; // a file's bytes, a link's target
    mode_t mode = 0;
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    friend bool operator==(const Entry &, const Entry &) = default;
};
using Snapshot = QMap<QString, Entry>;

Snapshot snapshot(const QString &root)
{
    Snapshot out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        Entry entry;
        entry.mode = st.st_mode;
        entry.inode = st.st_ino;
        entry.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (S_ISLNK(st.st_mode))
            entry.contents = QFile::encodeName(QFileInfo(path).symLinkTarget());
        else if (S_ISREG(st.st_mode))
            entry.contents = readWholeFile(QFile::encodeName(path));
        else
            entry.mtimeNs = 0; // a folder's time changes with what is made in it
        out.insert(path.mid(root.size()), entry);
    }
    return out;
}

// The entries that differ between two snapshots.
QStringList changed(const Snapshot &before, const Snapshot &after)
{
    QStringList out;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!before.contains(it.key()) || before.value(it.key()) != it.value())
            out << it.key();
    }
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (!after.contains(it.key()))
            out << it.key();
    }
    out.sort();
    return out;
}

class StartupHardeningTest : public ::testing::Test
{
protected:
    QString base() const { return QFileInfo(QFile::decodeName(m_machine.cacheHome())).path(); }
    QString cache() const { return QFile::decodeName(m_machine.cacheHome()); }
    QString folder() const { return cache() + QStringLiteral("/linkmend"); }
    QString victim(const QString &relative) const { return QFile::decodeName(m_machine.posix(relative)); }
    void write(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // Runs the window's creation handler on a new window: its buttons must
    // be there whatever became of the files; the errors it showed.
    QStringList createWindow(bool unprivileged = false)
    {
        RecordingDialogs dialogs;
        Dialogs::install(&dialogs);
        {
            TForm2 form;
            {
                std::optional<UnprivilegedFiles> asUser;
                if (unprivileged)
                    asUser.emplace();
                form.FormCreate();
            }
            EXPECT_NE(form.Btscan, nullptr);
            EXPECT_NE(form.Btdelete, nullptr);
            if (form.Btscan && form.Btdelete) {
                EXPECT_TRUE(form.Btscan->isEnabled());
                EXPECT_FALSE(form.Btdelete->isEnabled());
            }
            m_animationStarted = form.WebBrowser1->isStarted();
        }
        restoreQuietDialogs();
        return dialogs.errors;
    }

    TempDrives m_machine;
    bool m_animationStarted = false;
};

TEST_F(StartupHardeningTest, HardLinksAtThePageAndPictureNames)
{
    write(victim(QStringLiteral("Documents/letter.txt")), "keep me");
    write(victim(QStringLiteral("Documents/photo.gif")), "keep me too");
    ASSERT_TRUE(QDir().mkpath(folder() + QStringLiteral("/savedata")));
    ASSERT_EQ(::link(QFile::encodeName(victim(QStringLiteral("Documents/letter.txt"))).constData(),
                     QFile::encodeName(folder() + QStringLiteral("/ht.htm")).constData()),
              0);
    ASSERT_EQ(::link(QFile::encodeName(victim(QStringLiteral("Documents/photo.gif"))).constData(),
                     QFile::encodeName(folder() + QStringLiteral("/savedata/example.gif")).constData()),
              0);
    const Snapshot documents = snapshot(victim(QStringLiteral("Documents")));

    EXPECT_TRUE(createWindow().isEmpty());
    EXPECT_TRUE(m_animationStarted);

    // The other names of the old files keep their bytes; the program's names
    // are files of their own now.
    const Snapshot after = snapshot(victim(QStringLiteral("Documents")));
    for (const QString &name : {QStringLiteral("/letter.txt"), QStringLiteral("/photo.gif")}) {
        EXPECT_EQ(after.value(name).contents, documents.value(name).contents);
        EXPECT_EQ(after.value(name).mtimeNs, documents.value(name).mtimeNs);
    }
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(folder() + QStringLiteral("/ht.htm")).constData(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(readWholeFile(QFile::encodeName(folder() + QStringLiteral("/savedata/example.gif"))),
              Resources::data(QStringLiteral("example")));
}

TEST_F(StartupHardeningTest, SymbolicLinksAtTheFolderNames)
{
    // The program's folder, then its picture folder, is a link to a folder
    // of someone else's files that happen to have the program's names.
    for (const QString &linked : {folder(), folder() + QStringLiteral("/savedata")}) {
        SCOPED_TRACE(linked.toStdString());
        QDir(folder()).removeRecursively();
        QFile::remove(folder());
        const QString elsewhere = victim(QStringLiteral("Projects"));
        QDir(elsewhere).removeRecursively();
        write(elsewhere + QStringLiteral("/ht.htm"), "their page");
        write(elsewhere + QStringLiteral("/example.gif"), "their picture");
        write(elsewhere + QStringLiteral("/savedata/example.gif"), "their picture");
        ASSERT_TRUE(QDir().mkpath(QFileInfo(linked).path()));
        ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(linked).constData()),
                  0);
        const Snapshot before = snapshot(base());

        const QStringList errors = createWindow();

        // Nothing changed outside the program's own folder, and a link is
        // never taken for it: the file that would go through it is not
        // written, and the failure is shown once.
        QStringList outside;
        for (const QString &entry : changed(before, snapshot(base()))) {
            if (entry != QLatin1String("/cache/linkmend") &&
                !entry.startsWith(QLatin1String("/cache/linkmend/")))
                outside << entry;
        }
        EXPECT_TRUE(outside.isEmpty()) << outside.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(readWholeFile(QFile::encodeName(elsewhere + QStringLiteral("/ht.htm"))), "their page");
        EXPECT_EQ(readWholeFile(QFile::encodeName(elsewhere + QStringLiteral("/example.gif"))),
                  "their picture");
        EXPECT_EQ(readWholeFile(QFile::encodeName(elsewhere + QStringLiteral("/savedata/example.gif"))),
                  "their picture");
        EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
                  3);
        EXPECT_EQ(errors.size(), 1);
        EXPECT_FALSE(m_animationStarted);
    }
}

TEST_F(StartupHardeningTest, ReadOnlyCacheFolders)
{
    UnprivilegedFiles::letEveryoneThrough(m_machine.cacheHome());
    // The program's folder exists but may not be written; then the cache
    // folder itself may not be written, so the program's cannot be made.
    ASSERT_TRUE(QDir().mkpath(folder() + QStringLiteral("/savedata")));
    for (const QString &locked : {folder(), cache()}) {
        SCOPED_TRACE(locked.toStdString());
        if (locked == cache()) {
            ASSERT_TRUE(QDir(folder()).removeRecursively());
        }
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
        const Snapshot ready = snapshot(base());

        const QStringList errors = createWindow(true);

        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().startsWith(QStringLiteral("Cannot create file \"") + folder()))
            << errors.first().toStdString();
        EXPECT_FALSE(m_animationStarted);
        // Not a byte written, no temporary file left.
        EXPECT_EQ(changed(ready, snapshot(base())), QStringList());
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0755), 0);
    }
}

TEST_F(StartupHardeningTest, NoCacheFolderAtAll)
{
    // The cache location lies below a file, so no folder can be made there.
    write(base() + QStringLiteral("/plain-file"), "x");
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(base() + QStringLiteral("/plain-file/cache")));
    const Snapshot before = snapshot(base());
    const QStringList errors = createWindow();
    qputenv("XDG_CACHE_HOME", oldCache);

    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains(QStringLiteral("Not a directory"))) << errors.first().toStdString();
    EXPECT_EQ(changed(before, snapshot(base())), QStringList());

    // A cache location that does not exist yet is made.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(base() + QStringLiteral("/new/cache")));
    EXPECT_TRUE(createWindow().isEmpty());
    qputenv("XDG_CACHE_HOME", oldCache);
    EXPECT_TRUE(QFileInfo::exists(base() + QStringLiteral("/new/cache/linkmend/ht.htm")));
    EXPECT_TRUE(m_animationStarted);
}

} // namespace
