#include "drives/DriveComboBox.h"

#include "FakeVolumes.h"
#include "resources/Resources.h"
#include "support/TempDrives.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

// The machine of the drive list: a removable a: (whose label is never
// shown), a fixed c: labelled System, a CD-ROM d: without a disc and a
// network z: connected to a share.
std::shared_ptr<FakeVolumes> machine()
{
    auto volumes = std::make_shared<FakeVolumes>();
    (*volumes)['a'] = {win::DRIVE_REMOVABLE, QStringLiteral("STICK"), std::nullopt, DiskSpace{}};
    (*volumes)['c'] = {win::DRIVE_FIXED, QStringLiteral("System"), std::nullopt, DiskSpace{1, 2, 1}};
    (*volumes)['d'] = {win::DRIVE_CDROM, std::nullopt, std::nullopt, std::nullopt};
    (*volumes)['z'] = {win::DRIVE_REMOTE, QString(), QStringLiteral("\\\\FileServer\\Public"),
                       DiskSpace{1, 2, 1}};
    return volumes;
}

class DriveComboBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldFolder = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QFile::decodeName(m_drives.root('c'))));
    }
    void TearDown() override { QDir::setCurrent(m_oldFolder); }

    // A created selector on the machine above, counting its change events.
    std::unique_ptr<TDriveComboBox> created(std::shared_ptr<FakeVolumes> volumes = machine())
    {
        auto combo = std::make_unique<TDriveComboBox>(nullptr, m_drives.context(), std::move(volumes));
        QObject::connect(combo.get(), &TDriveComboBox::changed, [this] { ++changes; });
        combo->setClock([this] { return now; });
        combo->createWindow();
        return combo;
    }

    static void press(QWidget &widget, int key, const QString &text = QString())
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(&widget, &event);
    }

    static int indexOf(const TDriveComboBox &combo, char letter)
    {
        return int(combo.drives().indexOf(QLatin1Char(letter)));
    }

    TempDrives m_drives{QStringLiteral("acdz")};
    QString m_oldFolder;
    int changes = 0;
    qint64 now = 10000;
};

QList<QString> texts(const TDriveComboBox &combo)
{
    QList<QString> result;
    for (int i = 0; i < combo.count(); ++i)
        result.append(combo.itemText(i));
    return result;
}

} // namespace

TEST_F(DriveComboBoxTest, ListsTheMachinesDrivesInLetterOrder)
{
    auto combo = created();
    const QList<QString> expected = {QStringLiteral("a:"), QStringLiteral("c: [system]"),
                                     QStringLiteral("d: []"), QStringLiteral("z: \\\\fileserver\\public")};
    EXPECT_EQ(texts(*combo), expected);
    EXPECT_EQ(combo->entryPicture(0), TDriveComboBox::Picture::Floppy);
    EXPECT_EQ(combo->entryPicture(1), TDriveComboBox::Picture::Hard);
    EXPECT_EQ(combo->entryPicture(2), TDriveComboBox::Picture::CdRom);
    EXPECT_EQ(combo->entryPicture(3), TDriveComboBox::Picture::Network);
    EXPECT_EQ(combo->drives(),
              (QList<QChar>{QLatin1Char('a'), QLatin1Char('c'), QLatin1Char('d'), QLatin1Char('z')}));
    EXPECT_EQ(combo->maxVisibleItems(), 8);
}

TEST_F(DriveComboBoxTest, EntryTextsByType)
{
    auto volumes = std::make_shared<FakeVolumes>();
    (*volumes)['b'] = {win::DRIVE_UNKNOWN, QStringLiteral("X"), std::nullopt, DiskSpace{}};
    (*volumes)['e'] = {win::DRIVE_NO_ROOT_DIR, QStringLiteral("X"), std::nullopt, DiskSpace{}};
    (*volumes)['f'] = {win::DRIVE_FIXED, QStringLiteral("Données & ÉTÉ"), std::nullopt, DiskSpace{}};
    (*volumes)['r'] = {win::DRIVE_RAMDISK, std::nullopt, std::nullopt, DiskSpace{}};
    // A network drive whose name cannot be read shows its label instead.
    (*volumes)['y'] = {win::DRIVE_REMOTE, QStringLiteral("Backup"), std::nullopt, DiskSpace{}};
    auto combo = created(volumes);

    const QList<QString> expected = {QStringLiteral("f: [données & été]"), QStringLiteral("r: []"),
                                     QStringLiteral("y: [backup]")};
    EXPECT_EQ(texts(*combo), expected);
    EXPECT_EQ(combo->entryPicture(1), TDriveComboBox::Picture::Ram);
    EXPECT_EQ(combo->entryPicture(2), TDriveComboBox::Picture::Network);
    // Drives that get no entry are not asked for a label.
    EXPECT_FALSE(volumes->labelQueries.contains(QStringLiteral("b:\\")));
}

TEST_F(DriveComboBoxTest, RemovableDrivesNeverReadTheirLabel)
{
    auto volumes = machine();
    auto combo = created(volumes);
    EXPECT_FALSE(volumes->labelQueries.contains(QStringLiteral("a:\\")));
    EXPECT_TRUE(volumes->labelQueries.contains(QStringLiteral("c:\\")));
}

TEST_F(DriveComboBoxTest, WindowCreationSelectsTheStartDriveAndRaisesOnce)
{
    auto combo = std::make_unique<TDriveComboBox>(nullptr, m_drives.context(), machine());
    QObject::connect(combo.get(), &TDriveComboBox::changed, [this] { ++changes; });
    EXPECT_EQ(combo->count(), 0); // entries only come with the window
    EXPECT_EQ(combo->drive(), QLatin1Char('c'));

    combo->createWindow();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->currentIndex(), 1);
    combo->show(); // showing does not create it a second time
    combo->createWindow();
    EXPECT_EQ(changes, 1);
}

TEST_F(DriveComboBoxTest, ShowingCreatesTheWindow)
{
    auto combo = std::make_unique<TDriveComboBox>(nullptr, m_drives.context(), machine());
    QObject::connect(combo.get(), &TDriveComboBox::changed, [this] { ++changes; });
    combo->show();
    EXPECT_TRUE(combo->isWindowCreated());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("c: [system]"));
}

TEST_F(DriveComboBoxTest, StartDriveWithoutEntryStillRaisesOnce)
{
    auto volumes = machine();
    (*volumes)['c'].type = win::DRIVE_UNKNOWN;
    auto combo = created(volumes);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->drive(), QLatin1Char('c'));
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_FALSE(combo->drives().contains(QLatin1Char('c')));
}

TEST_F(DriveComboBoxTest, SetDriveRaisesOnlyOnAChange)
{
    auto combo = created();
    changes = 0;
    combo->setDrive(QLatin1Char('c'));
    combo->setDrive(QLatin1Char('C'));
    EXPECT_EQ(changes, 0);

    combo->setDrive(QLatin1Char('D'));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->drive(), QLatin1Char('d')); // held in lower case
    EXPECT_EQ(combo->currentIndex(), 2);

    // A letter without an entry: stored, selection kept, raised all the same.
    combo->setDrive(QLatin1Char('q'));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(combo->drive(), QLatin1Char('q'));
    EXPECT_EQ(combo->currentIndex(), 2);

    combo->setDrive(QChar());
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(combo->drive().isNull());
    EXPECT_EQ(combo->currentIndex(), -1);
    // With nothing selected the change test always passes.
    combo->setDrive(QChar());
    EXPECT_EQ(changes, 4);
}

TEST_F(DriveComboBoxTest, UserChoiceRaisesTwiceForAnotherDriveOnceForTheSame)
{
    auto combo = created();
    combo->show();

    // Choosing in the drop-down list with the keyboard's Enter.
    auto chooseInList = [&](int row) {
        combo->showPopup();
        combo->view()->setCurrentIndex(combo->model()->index(row, 0));
        press(*combo->view(), Qt::Key_Return);
    };

    changes = 0;
    chooseInList(indexOf(*combo, 'z'));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(combo->drive(), QLatin1Char('z'));

    changes = 0;
    chooseInList(indexOf(*combo, 'z'));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->drive(), QLatin1Char('z'));

    // The arrow keys on the closed selector.
    changes = 0;
    press(*combo, Qt::Key_Up);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(combo->drive(), QLatin1Char('d'));
}

TEST_F(DriveComboBoxTest, BackspaceRaisesWithoutChangingTheDrive)
{
    auto combo = created();
    changes = 0;
    press(*combo, Qt::Key_Backspace);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->drive(), QLatin1Char('c'));
    EXPECT_EQ(combo->currentIndex(), 1);
}

TEST_F(DriveComboBoxTest, TypeAheadStartsAfreshAfterHalfASecond)
{
    auto combo = created();
    changes = 0;
    press(*combo, Qt::Key_Z, QStringLiteral("z"));
    EXPECT_EQ(combo->drive(), QLatin1Char('z'));
    EXPECT_EQ(changes, 2);

    // 499 ms later the search text is "zd": nothing matches, nothing changes.
    now += 499;
    press(*combo, Qt::Key_D, QStringLiteral("d"));
    EXPECT_EQ(combo->drive(), QLatin1Char('z'));
    EXPECT_EQ(changes, 2);

    // 500 ms after that key the search starts again with "d".
    now += 500;
    press(*combo, Qt::Key_D, QStringLiteral("D"));
    EXPECT_EQ(combo->drive(), QLatin1Char('d'));
    EXPECT_EQ(changes, 4);

    // Typing on: "d:" still finds d:, the selected entry, so nothing is raised.
    now += 100;
    press(*combo, Qt::Key_Colon, QStringLiteral(":"));
    EXPECT_EQ(changes, 4);

    // Backspace shortens the search text, raising each time: after two,
    // "c" in time searches "c" rather than "d:c".
    now += 100;
    press(*combo, Qt::Key_Backspace);
    press(*combo, Qt::Key_Backspace);
    EXPECT_EQ(changes, 6);
    now += 100;
    press(*combo, Qt::Key_C, QStringLiteral("c"));
    EXPECT_EQ(combo->drive(), QLatin1Char('c'));
    EXPECT_EQ(changes, 8);
}

TEST_F(DriveComboBoxTest, EntryHeightIsTheFontCellOrEleven)
{
    auto combo = created();
    QFont tiny = combo->font();
    tiny.setPixelSize(5);
    combo->setFont(tiny);
    EXPECT_EQ(combo->entryHeight(), 11);

    QFont large = combo->font();
    large.setPixelSize(24);
    combo->setFont(large);
    const int cell = QFontMetrics(large).height();
    ASSERT_GT(cell, 11);
    EXPECT_EQ(combo->entryHeight(), cell);
    // The drop-down list uses that height for its rows.
    EXPECT_EQ(combo->view()->sizeHintForRow(0), cell);
}

TEST_F(DriveComboBoxTest, FontChangeAfterCreationBuildsTheEntriesAgain)
{
    auto volumes = machine();
    auto combo = created(volumes);
    changes = 0;
    (*volumes)['c'].label = QStringLiteral("Renamed");
    QFont font = combo->font();
    font.setPixelSize(20);
    combo->setFont(font);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("c: [renamed]"));
}

// Each drive type's picture reads as a 16 x 11 picture of at most sixteen
// colours whose ground is the blue that entries draw as their background.
TEST(DrivePictures, AreSixteenByElevenSixteenColourPicturesOnBlue)
{
    for (const char *name : {"FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"}) {
        SCOPED_TRACE(name);
        const QImage image = QImage::fromData(Resources::data(QLatin1String(name)), "BMP");
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(16, 11));
        EXPECT_LE(image.colorCount(), 16);
        EXPECT_GT(image.colorCount(), 0);
        EXPECT_EQ(image.pixel(0, 10), qRgb(0, 0, 255));
    }
}

TEST_F(DriveComboBoxTest, BlueIsDrawnAsTheEntryBackground)
{
    auto combo = created();
    const QRgb blue = qRgb(0, 0, 255);
    for (bool selected : {true, false}) {
        SCOPED_TRACE(selected);
        const QColor background = combo->palette().color(selected ? QPalette::Highlight : QPalette::Base);
        ASSERT_NE(background.rgb(), blue);

        QImage image(120, 20, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        // Entry rectangle from y 3 to 17: the picture's top is (3 + 17 - 11) / 2 = 4.
        combo->drawEntry(painter, indexOf(*combo, 'c'), QRect(0, 3, 120, 14), selected, false);
        painter.end();

        for (int y = 3; y < 17; ++y) {
            for (int x = 0; x < 120; ++x)
                ASSERT_NE(image.pixel(x, y), blue) << x << "," << y;
        }
        // The HARD picture's blue top-left corner shows the background, its
        // black and white edges stay as drawn.
        EXPECT_EQ(image.pixel(2, 4), background.rgb());
        EXPECT_EQ(image.pixel(2 + 15, 4 + 2), qRgb(0, 0, 0));
        EXPECT_EQ(image.pixel(2, 4 + 2), qRgb(255, 255, 255));
        // Outside the entry rectangle nothing is drawn.
        EXPECT_EQ(image.pixel(5, 1), QColor(Qt::magenta).rgb());
    }
}

TEST_F(DriveComboBoxTest, ClosedFieldShowsTheSelectedEntryWithoutBlue)
{
    auto combo = created();
    combo->resize(153, 20);
    combo->setDrive(QLatin1Char('z'));
    const QImage image = combo->grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool drewPicture = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_NE(image.pixel(x, y), qRgb(0, 0, 255));
            drewPicture = drewPicture || image.pixel(x, y) == qRgb(0, 255, 0); // the green light
        }
    }
    EXPECT_TRUE(drewPicture);
}
