#include "app/TForm2.h"
#include "controls/URLLabel.h"
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

TEST_F(WindowText, FooterReadsAsOneSentenceWithTheLinksInIt)
{
    const QImage whole = shotOf(form);
    const QImage withoutLinks = shotWithout(form, {form.URLLabel1, form.URLLabel2});
    const QImage bare = shotWithout(form, {form.URLLabel1, form.URLLabel2, form.Label5});
    const DrawnText links(whole, withoutLinks);
    const DrawnText words(withoutLinks, bare);

    const QRect sentence = form.Label5->geometry();
    const QList<int> lines = words.baselines(sentence);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1] - lines[0], 14);

    // Each name shares its line's baseline and stands one space's width
    // from the words beside it.
    const int space = QFontMetrics(form.Label5->font()).horizontalAdvance(QLatin1Char(' '));
    struct Link
    {
        TURLLabel *label;
        int line;
        bool wordBefore;
    };
    for (const Link &link : {Link{form.URLLabel2, 0, false}, Link{form.URLLabel1, 1, true}}) {
        SCOPED_TRACE(link.label->objectName().toStdString());
        const QList<int> own = links.baselines(link.label->geometry());
        ASSERT_EQ(own.size(), 1);
        EXPECT_EQ(own.first(), lines[link.line]);

        const QRect lineRows(sentence.left(), lines[link.line] - 12, sentence.width(), 14);
        const std::optional<QPair<int, int>> name = links.extent(lineRows);
        ASSERT_TRUE(name);
        const std::optional<QPair<int, int>> before = words.extent(
            QRect(QPoint(sentence.left(), lineRows.top()), QPoint(name->first - 1, lineRows.bottom())));
        const std::optional<QPair<int, int>> after = words.extent(
            QRect(QPoint(name->second + 1, lineRows.top()), QPoint(sentence.right(), lineRows.bottom())));
        ASSERT_TRUE(after);
        EXPECT_NEAR(after->first - name->second - 1, space, 2);
        ASSERT_EQ(before.has_value(), link.wordBefore);
        if (before) {
            EXPECT_NEAR(name->first - before->second - 1, space, 2);
        }
    }
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
