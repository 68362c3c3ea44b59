#include "app/WindowsLineMetrics.h"

#include <QFile>
#include <QRawFont>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray tahoma()
{
    QFile file(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Where a table of the face starts, from its directory entry.
qsizetype tableOffset(const QByteArray &face, const char *tag)
{
    const auto *bytes = reinterpret_cast<const uchar *>(face.constData());
    const int count = qFromBigEndian<quint16>(bytes + 4);
    for (int i = 0; i < count; ++i) {
        if (face.mid(12 + 16 * i, 4) == tag)
            return qFromBigEndian<quint32>(bytes + 12 + 16 * i + 8);
    }
    return -1;
}

void put16(QByteArray &face, qsizetype at, quint16 value)
{
    qToBigEndian(value, reinterpret_cast<uchar *>(face.data()) + at);
}

} // namespace

TEST(WindowsLineMetrics, GivesEveryBitmapSizeTheWindowsCellAndKeepsTheGlyphs)
{
    const QByteArray face = tahoma();
    if (face.isEmpty())
        GTEST_SKIP() << "fonts-wine's Tahoma is not installed";
    const std::optional<QByteArray> patched = withWindowsLineMetrics(face);
    ASSERT_TRUE(patched);

    // Pixel size, then the cell Windows gives it: above and below the baseline.
    const int cells[][3] = {{8, 8, 2},   {9, 9, 2},   {10, 10, 2}, {11, 11, 2},
                            {12, 12, 2}, {13, 13, 3}, {15, 15, 3}, {16, 16, 3}};
    for (const auto &cell : cells) {
        SCOPED_TRACE(cell[0]);
        const QRawFont font(*patched, cell[0]);
        ASSERT_TRUE(font.isValid());
        EXPECT_EQ(font.ascent(), cell[1]);
        EXPECT_EQ(font.descent(), cell[2]);
        EXPECT_EQ(font.leading(), 0);
    }

    // Only line metrics and checksums change: outlines, bitmaps, advances
    // and everything else that makes a glyph stay byte for byte.
    const QRawFont before(face, 12);
    const QRawFont after(*patched, 12);
    for (const char *tag : {"glyf", "loca", "hmtx", "EBDT", "cmap", "GPOS", "GSUB", "VDMX", "maxp", "post"}) {
        SCOPED_TRACE(tag);
        EXPECT_FALSE(before.fontTable(tag).isEmpty());
        EXPECT_EQ(after.fontTable(tag), before.fontTable(tag));
    }
    EXPECT_EQ(patched->size(), face.size());
}

TEST(WindowsLineMetrics, LeavesAFaceItCannotReadWholeAlone)
{
    const QByteArray face = tahoma();
    if (face.isEmpty())
        GTEST_SKIP() << "fonts-wine's Tahoma is not installed";
    const qsizetype head = tableOffset(face, "head");
    const qsizetype eblc = tableOffset(face, "EBLC");
    const qsizetype os2 = tableOffset(face, "OS/2");
    ASSERT_GT(head, 0);
    ASSERT_GT(eblc, 0);
    ASSERT_GT(os2, 0);

    const std::function<void(QByteArray &)> faults[] = {
        [](QByteArray &f) { f.clear(); },
        [](QByteArray &f) { f.truncate(11); },
        [](QByteArray &f) { f.truncate(f.size() / 2); },
        [](QByteArray &f) { f.chop(100); }, // the last tables reach past the end
        [](QByteArray &f) { f.replace(0, 4, "OTTO"); },
        [](QByteArray &f) { put16(f, 4, 0xffff); }, // more tables than the data holds
        [](QByteArray &f) { qToBigEndian<quint32>(0xfffffff0, f.data() + 12 + 8); }, // a table past the end
        [&](QByteArray &f) { put16(f, head + 18, 0); },                              // no units per em
        [&](QByteArray &f) { qToBigEndian<quint32>(0xffffffff, f.data() + eblc + 4); }, // countless strikes
        [&](QByteArray &f) { f[eblc + 8 + 45] = 0; },                                   // a strike of no size
        [&](QByteArray &f) { put16(f, os2 + 74, 0xffff); }, // a cell too tall for a strike's line metrics
    };
    int index = 0;
    for (const auto &fault : faults) {
        SCOPED_TRACE(index++);
        QByteArray broken = face;
        fault(broken);
        EXPECT_FALSE(withWindowsLineMetrics(broken));
    }
}
