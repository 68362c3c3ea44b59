#include "QuietDialogs.h"

#include "app/TForm2.h"
#include "app/TListBox.h"
#include "controls/BusyAnimation.h"
#include "controls/ImageButton.h"
#include "controls/URLLabel.h"
#include "lnk/LnkFile.h"
#include "support/TempDrives.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>

#include "shell/ChangeJournal.h"

#include <gtest/gtest.h>

#include <variant>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Catches the addresses the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(const QStringList &schemes = {QStringLiteral("file")}) : m_schemes(schemes)
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> urls;

private:
    QStringList m_schemes;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// The whole window on a temporary drive c:, scanning shortcuts made by our
// own codec through the real link service.
class WindowScanTest : public ::testing::Test
{
protected:
    WindowScanTest()
    {
        form.FormCreate();
        Form2State.SelectedDrive = QStringLiteral("c");
    }

    void shortcut(const QString &relative, const QString &target)
    {
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = 0x20;
        auto made = LnkFile::create(info, drives.win(relative));
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        drives.writeFile(relative, std::get<LnkFile>(made).serialize());
    }

    // C:\\Apps\\Old\\mover.exe moved to Apps\\New with the size and write time
    // the shortcut c:\\Desktop\\Moved.lnk recorded; the shortcut's bytes.
    QByteArray plantMovedProgram()
    {
        constexpr quint64 in2020 = 132223104000000000ULL; // 2020-01-01 UTC
        drives.writeFile(QStringLiteral("Apps/New/mover.exe"), QByteArray(4096, 'm'));
        const time_t seconds = time_t(in2020 / 10000000ULL - 11644473600ULL);
        const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
        EXPECT_EQ(
            ::utimensat(AT_FDCWD, drives.posix(QStringLiteral("Apps/New/mover.exe")).constData(), times, 0),
            0);
        LnkTargetInfo info;
        info.winPath = QStringLiteral("C:\\Apps\\Old\\mover.exe");
        info.attributes = 0x20;
        info.size = 4096;
        info.creationTime = info.writeTime = info.accessTime = in2020;
        const QByteArray bytes =
            std::get<LnkFile>(LnkFile::create(info, drives.win(QStringLiteral("Desktop/Moved.lnk"))))
                .serialize();
        drives.writeFile(QStringLiteral("Desktop/Moved.lnk"), bytes);
        return bytes;
    }

    TempDrives drives;
    TForm2 form;
};

TEST_F(WindowScanTest, ScanListsTheBrokenShortcutTickedAndReturnsToIdle)
{
    drives.writeFile(QStringLiteral("tools/app.exe"), "x");
    shortcut(QStringLiteral("Desktop/Good.lnk"), drives.win(QStringLiteral("tools/app.exe")));
    shortcut(QStringLiteral("Desktop/Old/Gone.lnk"), QStringLiteral("c:\\missing\\gone.exe"));

    form.ScanShortcuts();

    const QString broken = QStringLiteral("c:\\Desktop\\Old\\Gone.lnk");
    ASSERT_EQ(form.CheckListBox1->count(), 1);
    EXPECT_EQ(form.CheckListBox1->item(0)->text(), broken);
    EXPECT_TRUE(form.CheckListBox1->isChecked(0));
    ASSERT_EQ(form.ListBox1->count(), 1);
    EXPECT_EQ(form.ListBox1->item(0)->text(), broken);
    ASSERT_TRUE(Form2State.ShortcutPaths);
    EXPECT_EQ(*Form2State.ShortcutPaths, QStringList{broken});
    EXPECT_EQ(Form2State.BrokenCount, 1);
    EXPECT_EQ(form.Label1->text(), QStringLiteral("1 Broken Shortcut   (double click to explore)"));
    EXPECT_TRUE(form.Btscan->isEnabled());
    EXPECT_TRUE(form.Btdelete->isEnabled());
    EXPECT_EQ(form.WebBrowser1->x(), 881);
    EXPECT_EQ(form.ListBox1->horizontalExtent(), 313);
    EXPECT_EQ(form.CheckListBox1->horizontalExtent(),
              form.CheckListBox1->fontMetrics().horizontalAdvance(broken) + 2);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowScanTest, BusyStateShowsDuringTheWalk)
{
    shortcut(QStringLiteral("a.lnk"), QStringLiteral("c:\\missing.exe"));
    int seen = 0;
    // Runs inside the walk's dispatching.
    QTimer::singleShot(0, &form, [&] {
        ++seen;
        EXPECT_EQ(form.WebBrowser1->x(), 199);
        EXPECT_EQ(form.Label1->text(), QStringLiteral("Scanning...."));
        EXPECT_FALSE(form.Btscan->isEnabled());
        EXPECT_FALSE(form.Btdelete->isEnabled());
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    });
    form.ScanShortcuts();
    EXPECT_EQ(seen, 1);
}

TEST_F(WindowScanTest, KeyboardSelectionSetsTheHintAndDoubleClickOpensTheFolder)
{
    shortcut(QStringLiteral("Old/One.lnk"), QStringLiteral("c:\\gone\\one.exe"));
    shortcut(QStringLiteral("Old/Two.lnk"), QStringLiteral("d:\\gone\\two.exe"));
    form.ScanShortcuts();
    ASSERT_EQ(form.CheckListBox1->count(), 2);

    form.show();
    form.CheckListBox1->setFocus();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(form.CheckListBox1, &down);
    const int first = form.CheckListBox1->selectedIndex();
    ASSERT_GE(first, 0);
    const QString expectedTarget = form.CheckListBox1->item(first)->text().endsWith(QStringLiteral("One.lnk"))
                                       ? QStringLiteral("c:\\gone\\one.exe")
                                       : QStringLiteral("d:\\gone\\two.exe");
    EXPECT_EQ(form.CheckListBox1->toolTip().toLower(),
              (QStringLiteral("Points to ") + expectedTarget).toLower());

    UrlCatcher catcher;
    form.CheckListBox1DblClick(form.CheckListBox1);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first().toLocalFile().chopped(
                  catcher.urls.first().toLocalFile().endsWith(QLatin1Char('/')) ? 1 : 0),
              QString::fromLocal8Bit(drives.posix(QStringLiteral("Old"))))
        << catcher.urls.first().toString().toStdString();

    // The hint stays after a new scan empties the lists.
    const QString hint = form.CheckListBox1->toolTip();
    QFile::remove(QString::fromLocal8Bit(drives.posix(QStringLiteral("Old/One.lnk"))));
    QFile::remove(QString::fromLocal8Bit(drives.posix(QStringLiteral("Old/Two.lnk"))));
    form.ScanShortcuts();
    EXPECT_EQ(form.CheckListBox1->count(), 0);
    EXPECT_EQ(form.CheckListBox1->toolTip(), hint);
}

TEST_F(WindowScanTest, ClosingTheWindowMidScanStopsTheWalkSafely)
{
    for (int i = 0; i < 20; ++i)
        shortcut(QStringLiteral("f%1/x.lnk").arg(i), QStringLiteral("c:\\missing%1.exe").arg(i));
    form.show();
    QTimer::singleShot(0, &form, [&] { form.close(); });
    form.ScanShortcuts();
    EXPECT_FALSE(Form2State.ShortcutPaths); // released by FormClose, never re-created
    EXPECT_LT(form.CheckListBox1->count(), 20);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.WebBrowser1->x(), 881);
}

TEST_F(WindowScanTest, QuitRequestedDuringTheScanEndsTheProgramAfterIt)
{
    for (int i = 0; i < 5; ++i)
        shortcut(QStringLiteral("f%1/x.lnk").arg(i), QStringLiteral("c:\\missing%1.exe").arg(i));
    bool scanReturned = false;
    QTimer::singleShot(0, &form, [&] {
        // Taken by the walk's dispatching, in the middle of the scan.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
        form.ScanShortcuts();
        scanReturned = true;
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(7); });
    watchdog.start(10000);
    // The main loop ends with the quit request's code, after the scan.
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(scanReturned);
    EXPECT_EQ(form.CheckListBox1->count(), 5);
}

TEST_F(WindowScanTest, LinkLabelsOpenOnlyWebAddressesThroughTheShellServices)
{
    UrlCatcher caught(
        {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"), QStringLiteral("ftp")});
    const auto click = [](QWidget *label) {
        const QPointF at(2, 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &press);
        QApplication::sendEvent(label, &release);
    };
    click(form.URLLabel1);
    ASSERT_EQ(caught.urls.size(), 1);
    EXPECT_EQ(caught.urls.first().toString(QUrl::FullyEncoded), form.URLLabel1->URL());

    // Addresses the shell services do not open are not opened by a label
    // either.
    for (const char *address : {"file:///etc/passwd", "ftp://files.example/", "javascript:alert(1)"}) {
        form.URLLabel2->setURL(QString::fromLatin1(address));
        click(form.URLLabel2);
    }
    EXPECT_EQ(caught.urls.size(), 1);
}

TEST(WindowStartup, FailedStartupFileStillGivesBothButtons)
{
    TempDrives drives;
    RecordingDialogs dialogs;
    Dialogs::install(&dialogs);
    // A file where the picture folder must go makes the picture unwritable.
    QDir().mkpath(QString::fromLocal8Bit(drives.cacheHome()) + QStringLiteral("/linkmend"));
    QFile blocker(QString::fromLocal8Bit(drives.cacheHome()) + QStringLiteral("/linkmend/savedata"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        TForm2 form;
        form.FormCreate();
        EXPECT_NE(form.Btscan, nullptr);
        EXPECT_NE(form.Btdelete, nullptr);
        EXPECT_FALSE(form.WebBrowser1->isStarted());
    }
    restoreQuietDialogs();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors.first().startsWith(QStringLiteral("Cannot create file \"")))
        << dialogs.errors.first().toStdString();
}

TEST(WindowPictures, SavesPicturesOfTheWindowForTheReadme)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    Form2State.SelectedDrive = QStringLiteral("c");
    const QString shots = QCoreApplication::applicationDirPath() + QStringLiteral("/shots");
    QDir().mkpath(shots);
    form.show();
    EXPECT_TRUE(form.grab().save(shots + QStringLiteral("/window.png")));
    for (const char *name :
         {"Desktop/Old Editor.lnk", "Desktop/Games/Solitaire.lnk", "Users/Public/Desktop/Report 2019.lnk"}) {
        LnkTargetInfo info;
        info.winPath = QStringLiteral("c:\\Program Files\\Gone\\") +
                       QString::fromLatin1(name).section(QLatin1Char('/'), -1) + QStringLiteral(".exe");
        auto made = LnkFile::create(info, drives.win(QString::fromLatin1(name)));
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        drives.writeFile(QString::fromLatin1(name), std::get<LnkFile>(made).serialize());
    }
    form.ScanShortcuts();
    EXPECT_TRUE(form.grab().save(shots + QStringLiteral("/window-after-scan.png")));
}

TEST_F(WindowScanTest, TheLineBesideTheCountTellsWhatWasRepairedAndWhatCouldNotBeRead)
{
    // A program moved with its facts (size, write time) as the shortcut
    // recorded them, a file named like a shortcut that is none, and one
    // broken shortcut.
    plantMovedProgram();
    drives.writeFile(QStringLiteral("Desktop/Damaged.lnk"), "not a shortcut");
    shortcut(QStringLiteral("Desktop/Gone.lnk"), QStringLiteral("c:\\missing\\gone.exe"));

    EXPECT_FALSE(form.ReportLine->isVisible());
    form.show();
    form.ScanShortcuts();

    // The count and the list are as they always were: the broken one alone.
    EXPECT_EQ(form.Label1->text(), QStringLiteral("1 Broken Shortcut   (double click to explore)"));
    ASSERT_EQ(form.CheckListBox1->count(), 1);
    EXPECT_TRUE(form.ReportLine->isVisible());
    EXPECT_TRUE(
        form.ReportLine->text().contains(QLatin1String("1 shortcut repaired, 1 place could not be read")))
        << form.ReportLine->text().toStdString();
    const QString hint = form.ReportLine->toolTip();
    EXPECT_TRUE(
        hint.contains(QString::fromUtf8("Repaired: c:\\Desktop\\Moved.lnk: C:\\Apps\\Old\\mover.exe \u2192 "
                                        "c:\\Apps\\New\\mover.exe")))
        << hint.toStdString();
    EXPECT_TRUE(hint.contains(QLatin1String("c:\\Desktop\\Damaged.lnk (not a shortcut")))
        << hint.toStdString();

    // A click names every one of them.
    RecordingDialogs dialogs;
    Dialogs::install(&dialogs);
    emit form.ReportLine->linkActivated(QStringLiteral("details"));
    restoreQuietDialogs();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages.first(), hint);

    // A scan that finds nothing more to say hides the line again.
    QFile::remove(QFile::decodeName(drives.posix(QStringLiteral("Desktop/Damaged.lnk"))));
    form.ScanShortcuts();
    EXPECT_FALSE(form.ReportLine->isVisible());
}

TEST_F(WindowScanTest, AScanThatRepairedOffersToUndoItAfterAConfirmation)
{
    const QByteArray before = plantMovedProgram();
    const QByteArray file = drives.posix(QStringLiteral("Desktop/Moved.lnk"));

    form.show();
    form.ScanShortcuts();
    const QByteArray repaired = readWholeFile(file);
    ASSERT_NE(repaired, before);
    EXPECT_TRUE(form.canUndoRepairs());
    EXPECT_TRUE(form.ReportLine->text().contains(TForm2::UndoRepairsText))
        << form.ReportLine->text().toStdString();

    // Declined, nothing changes; agreed, the shortcut is as it was.
    RecordingDialogs dialogs;
    Dialogs::install(&dialogs);
    dialogs.answer = false;
    emit form.ReportLine->linkActivated(QStringLiteral("undo"));
    EXPECT_EQ(dialogs.questions.size(), 1);
    EXPECT_EQ(readWholeFile(file), repaired);
    dialogs.answer = true;
    emit form.ReportLine->linkActivated(QStringLiteral("undo"));
    restoreQuietDialogs();
    EXPECT_EQ(dialogs.questions.size(), 2);
    EXPECT_EQ(readWholeFile(file), before);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.first().startsWith(QLatin1String("1 repair undone")))
        << dialogs.messages.first().toStdString();
    EXPECT_FALSE(form.canUndoRepairs());
    EXPECT_FALSE(form.ReportLine->text().contains(TForm2::UndoRepairsText));

    // Both the scan and its undo are runs of the journal.
    const QList<JournalRun> runs = ChangeJournal::runs(drives.journalFolder());
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs.first().what, QStringLiteral("window scan of c:"));
    EXPECT_EQ(runs.last().undoes, runs.first().name);
}

} // namespace

#include "WindowScanTest.moc"
