#include "app/TForm2.h"
#include "support/DrawnText.h"
#include "support/TempDrives.h"

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

} // namespace
