#include "drives/DriveChoice.h"
#include "drives/DriveComboBox.h"

#include "FakeVolumes.h"
#include "support/TempDrives.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The main window's side of the drive choice: a real selector, the message
// box and SelectedDrive recorded.
class FormHost : public DriveChoiceHost
{
public:
    explicit FormHost(TDriveComboBox &combo) : m_combo(combo) {}

    QChar selectorDrive() const override { return m_combo.drive(); }
    QList<QChar> selectorDrives() const override { return m_combo.drives(); }
    void setSelectorDrive(QChar drive) override { m_combo.setDrive(drive); }
    void showMissingDiskMessage(const QString &text) override { messages.append(text); }
    void setSelectedDrive(const QString &drive) override { selectedDrive = drive; }

    QStringList messages;
    QString selectedDrive = QStringLiteral("(never set)");

private:
    TDriveComboBox &m_combo;
};

// The selector wired to the change handler as the main window wires it.
struct Form
{
    Form(const TempDrives &drives, const std::shared_ptr<FakeVolumes> &volumes)
        : combo(nullptr, drives.context(), volumes), host(combo), choice(host, drives.context(), volumes)
    {
        QObject::connect(&combo, &TDriveComboBox::changed, [this] {
            ++runs;
            choice.DriveComboBox1Change();
            // Every completed run leaves SelectedDrive naming the selector's drive.
            EXPECT_EQ(host.selectedDrive, combo.drive().isNull() ? QString() : QString(combo.drive()));
        });
        combo.createWindow();
        combo.show();
    }

    // The user picks a drive's entry in the drop-down list.
    void choose(char letter)
    {
        const int row = int(combo.drives().indexOf(QLatin1Char(letter)));
        ASSERT_GE(row, 0);
        combo.showPopup();
        combo.view()->setCurrentIndex(combo.model()->index(row, 0));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(combo.view(), &enter);
    }

    TDriveComboBox combo;
    FormHost host;
    DriveChoice choice;
    int runs = 0;
};

std::shared_ptr<FakeVolumes> fixedDrives(const char *letters)
{
    auto volumes = std::make_shared<FakeVolumes>();
    for (const char *c = letters; *c; ++c)
        (*volumes)[*c] = FakeVolumes::Drive{};
    return volumes;
}

QString canonical(const QByteArray &path)
{
    return QFileInfo(QFile::decodeName(path)).canonicalFilePath();
}
QString currentFolder()
{
    return QFileInfo(QDir::currentPath()).canonicalFilePath();
}

class DriveChoiceTest : public ::testing::Test
{
protected:
    void SetUp() override { m_oldFolder = QDir::currentPath(); }
    void TearDown() override { QDir::setCurrent(m_oldFolder); }

    void startIn(const TempDrives &drives, const QString &relative, char letter)
    {
        drives.makeFolder(relative, QLatin1Char(letter));
        ASSERT_TRUE(QDir::setCurrent(QFile::decodeName(drives.posix(relative, QLatin1Char(letter)))));
    }

    QString m_oldFolder;
};

} // namespace

TEST_F(DriveChoiceTest, StartUpFromAFolderOnD)
{
    TempDrives drives(QStringLiteral("cd"));
    startIn(drives, QStringLiteral("work"), 'd');
    const QString startFolder = currentFolder();

    Form form(drives, fixedDrives("cd"));
    EXPECT_EQ(form.runs, 1);
    EXPECT_EQ(form.combo.drive(), QLatin1Char('d'));
    EXPECT_EQ(form.combo.currentText(), QStringLiteral("d: []"));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("d"));
    EXPECT_TRUE(form.host.messages.isEmpty());
    // The hidden list is already on d: the current folder stays.
    EXPECT_EQ(currentFolder(), startFolder);
}

TEST_F(DriveChoiceTest, ChoosingDrivesMovesTheCurrentFolderAndSelectedDrive)
{
    TempDrives drives(QStringLiteral("cd"));
    startIn(drives, QStringLiteral("home"), 'c');
    const QString startFolder = currentFolder();
    auto volumes = fixedDrives("cd");
    Form form(drives, volumes);

    form.runs = 0;
    form.choose('d');
    EXPECT_EQ(form.runs, 2);
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("d"));
    EXPECT_EQ(currentFolder(), canonical(drives.root('d')));

    // Choosing it again changes nothing visible.
    form.choose('d');
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("d"));
    EXPECT_EQ(currentFolder(), canonical(drives.root('d')));
    EXPECT_TRUE(form.host.messages.isEmpty());

    // Back on c the folder that was current there is current again.
    form.choose('c');
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("c"));
    EXPECT_EQ(currentFolder(), startFolder);
    // The check asks for the lower-case roots the selector reports.
    EXPECT_TRUE(volumes->spaceQueries.contains(QStringLiteral("d:\\")));
    EXPECT_FALSE(volumes->spaceQueries.contains(QStringLiteral("D:\\")));
}

TEST_F(DriveChoiceTest, DriveWithoutDiskGoesBackToC)
{
    TempDrives drives(QStringLiteral("cde"));
    startIn(drives, QStringLiteral("home"), 'c');
    auto volumes = fixedDrives("cde");
    (*volumes)['e'].type = win::DRIVE_CDROM;
    volumes->setNoDisk('e');
    Form form(drives, volumes);

    form.choose('d');
    form.choose('e');
    EXPECT_EQ(form.host.messages, QStringList{QStringLiteral("There is no disk in drive e:")});
    EXPECT_EQ(form.combo.drive(), QLatin1Char('c'));
    EXPECT_EQ(form.combo.currentText(), QStringLiteral("c: []"));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("c"));
    EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(),
              canonical(drives.posix(QStringLiteral("home"))));
}

TEST_F(DriveChoiceTest, WithoutCTheFirstUsableDriveIsTaken)
{
    // The built-in rules may give no c: at all.
    TempDrives drives(QStringLiteral("dexyz"));
    startIn(drives, QStringLiteral("home"), 'z');
    auto volumes = fixedDrives("dexyz");
    volumes->setNoDisk('d');
    volumes->setNoDisk('e');
    (*volumes)['x'].type = win::DRIVE_UNKNOWN; // not listed, so not a place to go back to
    Form form(drives, volumes);

    form.choose('e');
    EXPECT_EQ(form.host.messages, QStringList{QStringLiteral("There is no disk in drive e:")});
    EXPECT_EQ(form.combo.drive(), QLatin1Char('y'));
    EXPECT_EQ(form.combo.currentText(), QStringLiteral("y: []"));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("y"));
    EXPECT_EQ(currentFolder(), canonical(drives.root('y')));
}

TEST_F(DriveChoiceTest, CWithoutDiskShowsOneMessageOnly)
{
    TempDrives drives(QStringLiteral("cdez"));
    startIn(drives, QStringLiteral("home"), 'z');
    auto volumes = fixedDrives("cdez");
    volumes->setNoDisk('c');
    volumes->setNoDisk('e');
    Form form(drives, volumes);

    form.choose('e');
    EXPECT_EQ(form.host.messages, QStringList{QStringLiteral("There is no disk in drive e:")});
    EXPECT_EQ(form.combo.drive(), QLatin1Char('d'));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("d"));

    // Choosing c itself: one message, then the first usable drive.
    form.host.messages.clear();
    form.choose('c');
    EXPECT_EQ(form.host.messages, QStringList{QStringLiteral("There is no disk in drive c:")});
    EXPECT_EQ(form.combo.drive(), QLatin1Char('d'));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("d"));
}

TEST_F(DriveChoiceTest, NoUsableDriveLeavesTheSelectorEmpty)
{
    TempDrives drives(QStringLiteral("cd"));
    startIn(drives, QStringLiteral("home"), 'c');
    const QString startFolder = currentFolder();
    auto volumes = fixedDrives("cd");
    volumes->setNoDisk('c');
    volumes->setNoDisk('d');
    Form form(drives, volumes);

    EXPECT_EQ(form.host.messages, QStringList{QStringLiteral("There is no disk in drive c:")});
    EXPECT_TRUE(form.combo.drive().isNull());
    EXPECT_EQ(form.combo.currentIndex(), -1);
    EXPECT_EQ(form.host.selectedDrive, QString());
    EXPECT_EQ(currentFolder(), startFolder);
}

TEST_F(DriveChoiceTest, StartUpOnTheWholeMachineOrOnNoDriveStartsOnC)
{
    // Started from / with a prefix whose z: is /, as a menu or a terminal in
    // the home folder starts the program: c:, not the whole machine, and no
    // missing-disk message.
    {
        TempDrives drives(QStringLiteral("c"));
        drives.mapLetter(QLatin1Char('z'), "/");
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral("/")));
        Form form(drives, fixedDrives("cz"));
        EXPECT_TRUE(form.host.messages.isEmpty()) << form.host.messages.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(form.combo.drive(), QLatin1Char('c'));
        EXPECT_EQ(form.host.selectedDrive, QStringLiteral("c"));
        // Still free to choose z:.
        form.choose('z');
        EXPECT_EQ(form.host.selectedDrive, QStringLiteral("z"));
    }
    // Started from a folder on no drive: c: as well.
    TempDrives drives(QStringLiteral("c"));
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    Form form(drives, fixedDrives("c"));
    EXPECT_TRUE(form.host.messages.isEmpty());
    EXPECT_EQ(form.combo.drive(), QLatin1Char('c'));
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("c"));
    EXPECT_EQ(currentFolder(), canonical(drives.root('c')));
}

TEST_F(DriveChoiceTest, DiskCheck)
{
    TempDrives drives(QStringLiteral("ce"));
    startIn(drives, QStringLiteral("home"), 'c');
    auto volumes = fixedDrives("ce");
    (*volumes)['c'].space = DiskSpace{}; // a volume of size 0 is present
    volumes->setNoDisk('e');
    TDriveComboBox combo(nullptr, drives.context(), volumes);
    FormHost host(combo);
    DriveChoice choice(host, drives.context(), volumes);

    volumes->spaceQueries.clear();
    EXPECT_TRUE(choice.IsDiskInDrive(QLatin1Char('c')));
    EXPECT_TRUE(choice.IsDiskInDrive(QLatin1Char('C')));
    EXPECT_FALSE(choice.IsDiskInDrive(QLatin1Char('e')));
    EXPECT_FALSE(choice.IsDiskInDrive(QLatin1Char('q')));
    EXPECT_FALSE(choice.IsDiskInDrive(QChar()));
    EXPECT_EQ(volumes->spaceQueries.mid(0, 2), (QStringList{QStringLiteral("c:\\"), QStringLiteral("C:\\")}));
}

TEST_F(DriveChoiceTest, BackspaceRunsTheHandlerAgain)
{
    TempDrives drives(QStringLiteral("c"));
    startIn(drives, QStringLiteral("home"), 'c');
    auto volumes = fixedDrives("c");
    Form form(drives, volumes);
    volumes->spaceQueries.clear();

    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(&form.combo, &backspace);
    EXPECT_EQ(volumes->spaceQueries, QStringList{QStringLiteral("c:\\")});
    EXPECT_EQ(form.host.selectedDrive, QStringLiteral("c"));
}
