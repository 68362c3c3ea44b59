#include "QuietDialogs.h"
#include "app/Dialogs.h"
#include "app/ErrorText.h"
#include "app/LinkmendApplication.h"
#include "app/TForm2.h"
#include "app/TListBox.h"
#include "controls/BusyAnimation.h"
#include "controls/ImageButton.h"
#include "controls/URLLabel.h"
#include "drives/DriveComboBox.h"
#include "support/TempDrives.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>

#include <gtest/gtest.h>

TEST(ApplicationTitle, FollowsTheProgramFileName)
{
    EXPECT_EQ(applicationTitleFrom(QStringLiteral("/usr/bin/Linkmend")), QStringLiteral("Linkmend"));
    EXPECT_EQ(applicationTitleFrom(QStringLiteral("Linkmend.exe")), QStringLiteral("Linkmend"));
    EXPECT_EQ(applicationTitleFrom(QStringLiteral("/opt/x.y/LINKMEND.tar.gz")), QStringLiteral("Linkmend"));
    // Only the characters after the first are lowered.
    EXPECT_EQ(applicationTitleFrom(QStringLiteral("c:\\Program Files\\lINKmEND.exe")),
              QStringLiteral("linkmend"));
    EXPECT_EQ(applicationTitleFrom(QStringLiteral("./a")), QStringLiteral("a"));
}

TEST(ErrorBoxText, AddsAFullStopOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(errorBoxText(QStringLiteral("Resource X not found")), QStringLiteral("Resource X not found."));
    EXPECT_EQ(errorBoxText(QStringLiteral("Done.")), QStringLiteral("Done."));
    // Space, comma and hyphen have lower codes than the full stop.
    EXPECT_EQ(errorBoxText(QStringLiteral("Trailing ")), QStringLiteral("Trailing "));
    EXPECT_EQ(errorBoxText(QStringLiteral("a,")), QStringLiteral("a,"));
    EXPECT_EQ(errorBoxText(QStringLiteral("a-")), QStringLiteral("a-"));
    // A slash and a closing quote are above it.
    EXPECT_EQ(errorBoxText(QStringLiteral("a/")), QStringLiteral("a/."));
    EXPECT_EQ(errorBoxText(QStringLiteral("\"x\"")), QStringLiteral("\"x\""));
    EXPECT_EQ(errorBoxText(QString()), QString());
}

namespace {

class ThrowingWidget : public QWidget
{
protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("Cannot create file \"x\". No space left on device");
        return QWidget::event(e);
    }
};

} // namespace

TEST(GeneralErrorHandler, ShowsTheTextOfAnEscapingErrorAndGoesOn)
{
    RecordingDialogs dialogs;
    Dialogs::install(&dialogs);
    ThrowingWidget widget;
    QEvent event(QEvent::User);
    // The test program's application object is a plain QApplication; call
    // the handler's notify the way the program's application does.
    EXPECT_FALSE(LinkmendApplication::notifyGuarded(*qApp, &widget, &event));
    restoreQuietDialogs();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors.first(), QStringLiteral("Cannot create file \"x\". No space left on device."));
}

struct ControlRow
{
    const char *name;
    const char *kind;
    QRect bounds; // left -1: placed by the text it lies in; width -1: sized by its text
    bool visible;
};

TEST(MainWindow, HasEveryFormControlWithItsKindBoundsAndVisibility)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    EXPECT_EQ(form.size(), QSize(800, 600));
    EXPECT_EQ(form.pos(), QPoint(0, 0));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Linkmend"));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // not resizable
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_NE(form.windowType(), Qt::Tool);

    const ControlRow rows[] = {
        {"Image1", "QLabel", {0, 0, 800, 600}, true},
        {"Label1", "QLabel", {20, 112, -1, 14}, true},
        {"Label2", "QLabel", {36, 463, -1, 14}, true},
        {"Label3", "QLabel", {18, 515, 396, 73}, true},
        {"Label5", "QLabel", {467, 515, 318, 28}, true},
        {"URLLabel1", "TURLLabel", {-1, 529, -1, 14}, true},
        {"URLLabel2", "TURLLabel", {467, 515, -1, 14}, true},
        {"Image2", "QLabel", {200, 421, 57, 56}, true},
        {"ListBox1", "TListBox", {840, 135, 113, 280}, false},
        {"CheckListBox1", "TCheckListBox", {18, 132, 762, 280}, true},
        {"DriveComboBox1", "TDriveComboBox", {18, 430, 153, 20}, true},
        {"DirectoryListBox1", "TListBox", {832, 433, 145, 97}, false},
        {"CheckBox1", "QCheckBox", {18, 463, 17, 16}, true},
        {"WebBrowser1", "BusyAnimation", {881, 421, 56, 56}, false},
        {"Btscan", "TImageButton", {290, 421, 194, 58}, true},
        {"Btdelete", "TImageButton", {498, 421, 286, 58}, true},
    };
    for (const ControlRow &row : rows) {
        SCOPED_TRACE(row.name);
        auto *control = form.findChild<QWidget *>(QLatin1String(row.name), Qt::FindDirectChildrenOnly);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->inherits(row.kind));
        if (row.bounds.x() >= 0) {
            EXPECT_EQ(control->x(), row.bounds.x());
        }
        EXPECT_EQ(control->y(), row.bounds.y());
        if (row.bounds.width() >= 0)
            EXPECT_EQ(control->width(), row.bounds.width());
        else
            EXPECT_GT(control->width(), 0);
        EXPECT_EQ(control->height(), row.bounds.height());
        EXPECT_EQ(!control->isHidden(), row.visible);
    }
}

TEST(MainWindow, ControlsOutsideTheWindowStayHiddenWhenAWindowManagerEnlargesIt)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    // What a tiling window manager does with a fixed-size window.
    form.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    form.resize(1280, 800);
    form.show();
    ASSERT_EQ(form.width(), 1280);
    for (QWidget *outside :
         {static_cast<QWidget *>(form.ListBox1), static_cast<QWidget *>(form.DirectoryListBox1),
          static_cast<QWidget *>(form.WebBrowser1)}) {
        SCOPED_TRACE(outside->objectName().toStdString());
        EXPECT_GE(outside->x(), 800);
        EXPECT_FALSE(outside->isVisible());
    }
    // A scan moves the busy animation into the window, where it shows, and
    // back out when it ends.
    form.setBusyIndicatorLeft(199);
    EXPECT_EQ(form.WebBrowser1->x(), 199);
    EXPECT_TRUE(form.WebBrowser1->isVisible());
    form.setBusyIndicatorLeft(881);
    EXPECT_EQ(form.WebBrowser1->x(), 881);
    EXPECT_FALSE(form.WebBrowser1->isVisible());
    // Visible exactly while its left edge lies within the 800 pixels.
    form.setBusyIndicatorLeft(799);
    EXPECT_TRUE(form.WebBrowser1->isVisible());
    form.setBusyIndicatorLeft(800);
    EXPECT_FALSE(form.WebBrowser1->isVisible());
    form.setBusyIndicatorLeft(-1);
    EXPECT_FALSE(form.WebBrowser1->isVisible());
}

TEST(MainWindow, TextsAreExactlyTheFormTexts)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    EXPECT_TRUE(form.Label1->text().isEmpty());
    EXPECT_EQ(form.Label2->text(), QStringLiteral("Ignore remote shortcuts"));
    EXPECT_TRUE(form.Label3->text().startsWith(QStringLiteral("Linkmend will scan all shortcuts")));
    EXPECT_TRUE(form.Label3->text().contains(QStringLiteral("click \u201CScan Shortcuts.\u201D Any")));
    EXPECT_TRUE(form.Label3->text().endsWith(QStringLiteral("in the window above.")));
    // The sentence opens with a run of spaces and has another before its
    // full stop; the link labels lie over them.
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^ {4,}is a free utility from Tessivane\\. Tessivane also makes {4,}\\.$"))
                    .match(form.Label5->text())
                    .hasMatch())
        << form.Label5->text().toStdString();
    EXPECT_EQ(form.URLLabel1->text(), QStringLiteral("Zorbital"));
    EXPECT_EQ(form.URLLabel1->URL(), FormTexts::URLLabel1Url);
    EXPECT_EQ(form.URLLabel2->URL(), FormTexts::URLLabel2Url);
    EXPECT_TRUE(form.URLLabel1->Params().isEmpty());
    EXPECT_TRUE(form.URLLabel1->font().underline());
    EXPECT_EQ(form.URLLabel2->text(), QStringLiteral("Linkmend"));
    EXPECT_TRUE(form.CheckBox1->text().isEmpty());
    EXPECT_FALSE(form.CheckBox1->isChecked());
    // The link labels' addresses use reserved example hosts, fixed path and query.
    for (const QString &url : {FormTexts::URLLabel1Url, FormTexts::URLLabel2Url}) {
        EXPECT_TRUE(url.startsWith(QStringLiteral("http://")));
        EXPECT_TRUE(url.endsWith(QStringLiteral(".example/?utm_medium=app&utm_campaign=linkmend")));
    }
}

TEST(MainWindow, TabOrderRunsThroughTheWindowedControlsOnly)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    QWidget *expected[] = {form.ListBox1,          form.CheckListBox1, form.DriveComboBox1,
                           form.DirectoryListBox1, form.CheckBox1,     form.WebBrowser1};
    // The focus chain also holds the controls' inner widgets; the form's own
    // controls must come in tab order.
    QList<QWidget *> order;
    QWidget *w = form.ListBox1;
    do {
        if (std::find(std::begin(expected), std::end(expected), w) != std::end(expected) &&
            !order.contains(w))
            order << w;
        w = w->nextInFocusChain();
    } while (w != form.ListBox1);
    EXPECT_EQ(order, QList<QWidget *>(std::begin(expected), std::end(expected)));
    for (QLabel *label : form.findChildren<QLabel *>())
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus) << label->objectName().toStdString();
}

TEST(MainWindow, WindowedControlsLieOverPicturesAndLabels)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    const QObjectList children = form.children();
    auto stackIndex = [&](QWidget *w) { return children.indexOf(w); };
    for (QWidget *button : {static_cast<QWidget *>(form.Btscan), static_cast<QWidget *>(form.Btdelete)})
        for (QLabel *label : form.findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            EXPECT_GT(stackIndex(button), stackIndex(label));
    for (QWidget *windowed :
         {static_cast<QWidget *>(form.ListBox1), static_cast<QWidget *>(form.CheckListBox1),
          static_cast<QWidget *>(form.DriveComboBox1), static_cast<QWidget *>(form.CheckBox1),
          static_cast<QWidget *>(form.WebBrowser1)})
        for (QLabel *label : form.findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            EXPECT_GT(stackIndex(windowed), stackIndex(label));
}

TEST(MainWindow, CheckListDrawsRedEntriesWithTickBoxesAtFourteenPixels)
{
    TempDrives drives;
    TForm2 form;
    form.CheckListBox1->addEntry(QStringLiteral("c:\\a.lnk"));
    EXPECT_EQ(form.CheckListBox1->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(form.CheckListBox1->sizeHintForRow(0), 14);
    EXPECT_FALSE(form.CheckListBox1->isChecked(0));
    form.CheckListBox1->setChecked(0, true);
    EXPECT_TRUE(form.CheckListBox1->isChecked(0));
}

TEST(MainWindow, HorizontalExtentSetsTheScrollRange)
{
    TempDrives drives;
    TForm2 form;
    form.show();
    form.CheckListBox1->setHorizontalExtent(2000);
    EXPECT_EQ(form.CheckListBox1->horizontalExtent(), 2000);
    EXPECT_EQ(form.CheckListBox1->horizontalScrollBar()->maximum(),
              2000 - form.CheckListBox1->viewport()->width());
    form.CheckListBox1->setHorizontalExtent(2);
    EXPECT_EQ(form.CheckListBox1->horizontalScrollBar()->maximum(), 0);
}

TEST(MainWindow, FormCreateMakesBothPictureButtonsWithDeleteDisabled)
{
    TempDrives drives;
    TForm2 form;
    form.FormCreate();
    ASSERT_NE(form.Btscan, nullptr);
    ASSERT_NE(form.Btdelete, nullptr);
    // Each button's picture is what the window shows where the button lies.
    const QImage window = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (TImageButton *button : {form.Btscan, form.Btdelete}) {
        const QImage picture = button->picture().convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(window.copy(QRect(button->pos(), picture.size())), picture)
            << button->objectName().toStdString();
    }
    EXPECT_EQ(form.Btscan->BaseImageName(), QStringLiteral("Btscan"));
    EXPECT_TRUE(form.Btscan->isEnabled());
    EXPECT_FALSE(form.Btdelete->isEnabled());
    EXPECT_EQ(form.Btdelete->picture().size(), QSize(285, 56));
    for (TImageButton *button : {form.Btscan, form.Btdelete}) {
        EXPECT_TRUE(button->UseClickImage());
        EXPECT_TRUE(button->UseOverImage());
        EXPECT_TRUE(button->UseDisabledImage());
        EXPECT_FALSE(button->RestoreOnClick());
        EXPECT_FALSE(button->ToggleMode());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
}

TEST(MainWindow, SelectorWindowCreationSetsSelectedDriveOnce)
{
    TempDrives drives(QStringLiteral("cd"));
    RecordingDialogs dialogs;
    Dialogs::install(&dialogs);
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromLocal8Bit(drives.root(QLatin1Char('d'))));
    Form2State.SelectedDrive.clear();
    {
        TForm2 form;
        form.FormCreate();
        form.DriveComboBox1->createWindow();
        EXPECT_EQ(Form2State.SelectedDrive, QStringLiteral("d"));
        EXPECT_EQ(form.DriveComboBox1->drive(), QLatin1Char('d'));
    }
    QDir::setCurrent(before);
    restoreQuietDialogs();
    EXPECT_TRUE(dialogs.messages.isEmpty());
}
