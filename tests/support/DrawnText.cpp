#include "support/DrawnText.h"

#include <QHash>

#include <algorithm>
#include <cstdlib>

namespace {

// A straight run this long within one row is a rule (an underline, a
// frame), not a letter: no glyph of the window's 12-pixel text is so wide.
constexpr int LongRun = 16;
// Rows above a baseline that belong to the same line of 12-pixel text.
constexpr int LineRows = 10;

bool differs(QRgb a, QRgb b)
{
    constexpr int Tolerance = 24;
    return std::abs(qRed(a) - qRed(b)) > Tolerance || std::abs(qGreen(a) - qGreen(b)) > Tolerance ||
           std::abs(qBlue(a) - qBlue(b)) > Tolerance;
}

} // namespace

DrawnText::DrawnText(int width, int height)
    : m_width(width), m_height(height), m_drawn(qsizetype(width) * height, false)
{}

DrawnText::DrawnText(const QImage &shot, const QImage &beneath) : DrawnText(shot.width(), shot.height())
{
    const QImage a = shot.convertToFormat(QImage::Format_RGB32);
    const QImage b = beneath.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
        for (int x = 0; x < std::min(a.width(), b.width()); ++x)
            m_drawn[y * m_width + x] = differs(a.pixel(x, y), b.pixel(x, y));
    }
}

DrawnText DrawnText::overRowColours(const QImage &shot)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    DrawnText drawn(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        QHash<QRgb, int> counts;
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
        const QRgb common = std::max_element(counts.cbegin(), counts.cend()).key();
        for (int x = 0; x < image.width(); ++x)
            drawn.m_drawn[y * drawn.m_width + x] = differs(image.pixel(x, y), common);
    }
    return drawn;
}

bool DrawnText::at(int x, int y) const
{
    return x >= 0 && y >= 0 && x < m_width && y < m_height && m_drawn[y * m_width + x];
}

int DrawnText::rowCount(int y, int left, int right) const
{
    int count = 0;
    int run = 0;
    for (int x = left; x <= right; ++x) {
        run = at(x, y) ? run + 1 : 0;
        if (run >= LongRun)
            return 0;
        count += at(x, y) ? 1 : 0;
    }
    return count;
}

QList<int> DrawnText::baselines(const QRect &area) const
{
    QList<int> counts;
    for (int y = area.top(); y <= area.bottom() + 1; ++y)
        counts.append(rowCount(y, area.left(), area.right()));
    QList<int> rows;
    for (int i = 0; i + 1 < counts.size(); ++i) {
        // The lowest row of the bodies: filled at least a quarter as well as
        // the fullest row of its line above it, and the next row holds less
        // than a third of it.
        const int most =
            *std::max_element(counts.cbegin() + std::max(0, i - LineRows), counts.cbegin() + i + 1);
        if (counts[i] > 0 && counts[i] * 4 >= most && counts[i + 1] * 3 < counts[i]) {
            rows.append(area.top() + i + 1);
            i += 3;
        }
    }
    return rows;
}

QList<QPair<int, int>> DrawnText::bands(const QRect &area) const
{
    QList<QPair<int, int>> runs;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        if (!extent(QRect(area.left(), y, area.width(), 1)))
            continue;
        if (!runs.isEmpty() && runs.last().second == y)
            runs.last().second = y + 1;
        else
            runs.append({y, y + 1});
    }
    return runs;
}

std::optional<QPair<int, int>> DrawnText::extent(const QRect &area) const
{
    std::optional<QPair<int, int>> found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!at(x, y))
                continue;
            if (!found)
                found = QPair<int, int>(x, x);
            found->first = std::min(found->first, x);
            found->second = std::max(found->second, x);
        }
    }
    return found;
}
