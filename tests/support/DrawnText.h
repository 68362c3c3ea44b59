#pragma once

#include <QImage>
#include <QList>
#include <QRect>

#include <optional>

// What a picture of the window shows of its text, measured from the pixels:
// which pixels some text drew, where its lines stand and how far it reaches.
class DrawnText
{
public:
    // The pixels where `shot` differs from `beneath`, the same place drawn
    // without that text. Both pictures are of the same size.
    DrawnText(const QImage &shot, const QImage &beneath);
    // The pixels of `shot` that differ from the colour most of their row
    // has: the text and pictures of a list drawn over plain entry colours.
    static DrawnText overRowColours(const QImage &shot);

    bool at(int x, int y) const;

    // The baseline of each line of text within `area`, top to bottom: the
    // row below the lowest row of the letters' bodies (a row that holds far
    // fewer text pixels, only descenders, comes next). Rows crossed by a
    // long straight line, such as an underline, are not counted as text.
    QList<int> baselines(const QRect &area) const;
    // The runs of rows within `area` that hold any drawn pixel, as
    // (first row, row after the last).
    QList<QPair<int, int>> bands(const QRect &area) const;
    // The leftmost and rightmost columns within `area` that hold a drawn
    // pixel; nothing when none does.
    std::optional<QPair<int, int>> extent(const QRect &area) const;

private:
    DrawnText(int width, int height);
    // Drawn pixels in row y within [left, right], not counting a row crossed
    // by a straight run of at least LongRun pixels.
    int rowCount(int y, int left, int right) const;

    int m_width = 0;
    int m_height = 0;
    QList<bool> m_drawn;
};
