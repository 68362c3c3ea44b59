#include "app/TForm2.h"
#include "drives/DriveComboBox.h"
#include "support/DrawnText.h"
#include "support/TempDrives.h"

#include <QAbstractItemView>
#include <QLabel>

#include <gtest/gtest.h>

// The window's text as drawn: every measure below is taken from pictures of
// the window, offscreen, with the program's own face loaded.
namespace {

QImage shotOf(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A picture of the window without the given controls.
QImage shotWithout(TForm2 &form, std::initializer_list<QWidget *> hidden)
{
    for (QWidget *widget : hidden)
        widget->hide();
    const QImage shot = shotOf(form);
    for (QWidget *widget : hidden)
        widget->show();
    return shot;
}

class WindowText : public ::testing::Test
{
protected:
    WindowText()
    {
        form.FormCreate();
        form.show();
    }

    TempDrives drives;
    TForm2 form;
};

TEST_F(WindowText, LinesStandOneFourteenPixelCellApart)
{
    const DrawnText text(shotOf(form), shotWithout(form, {form.Label3, form.Label2}));
    const QList<int> baselines = text.baselines(form.Label3->geometry());
    ASSERT_EQ(baselines.size(), 5);
    // The first baseline lies 12 pixels below the label's top, as in a cell
    // of 12 above the baseline and 2 below.
    EXPECT_EQ(baselines.first(), form.Label3->y() + 12);
    for (int i = 1; i < baselines.size(); ++i)
        EXPECT_EQ(baselines[i] - baselines[i - 1], 14) << "line " << i;
    // A one-line label 14 pixels high holds one such cell.
    EXPECT_EQ(text.baselines(form.Label2->geometry()), QList<int>{form.Label2->y() + 12});
}

TEST(DriveSelectorList, ShowsEightRowsOfFourteenPixelsAtATime)
{
    TempDrives drives(QStringLiteral("cdefghijklm"));
    TForm2 form;
    form.FormCreate();
    form.DriveComboBox1->createWindow();
    form.show();
    ASSERT_EQ(form.DriveComboBox1->count(), 11);
    form.DriveComboBox1->showPopup();

    QWidget *list = form.DriveComboBox1->view()->viewport();
    ASSERT_TRUE(list->isVisible());
    // The drive pictures stand 2 pixels in from each row's left edge, one
    // to a row: each run of picture rows is one row of the list.
    const DrawnText drawn = DrawnText::overRowColours(shotOf(*list));
    const QList<QPair<int, int>> pictures = drawn.bands(QRect(2, 0, 16, list->height()));
    EXPECT_EQ(pictures.size(), 8);
    for (int i = 1; i < pictures.size(); ++i)
        EXPECT_EQ(pictures[i].first - pictures[i - 1].first, 14) << "row " << i;
    form.DriveComboBox1->hidePopup();
}

} // namespace
