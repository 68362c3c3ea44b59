// The committed pictures and the animation, as the program reads them.

#include "resources/JpegDecoder.h"
#include "resources/Resources.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <gtest/gtest.h>

namespace {

QByteArray committed(const char *name)
{
    QFile file(QStringLiteral(LINKMEND_SOURCE_DIR "/resources/data/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// What the busy indicator plays: five frames that loop for ever, an opaque
// ball on a transparent ground.
TEST(Artwork, AnimationLoopsForEverThroughFiveBallsOnTransparentGround)
{
    QByteArray bytes = committed("EXAMPLE");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    EXPECT_EQ(reader.loopCount(), -1);
    QList<QImage> frames;
    for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read())
        frames << frame;
    ASSERT_EQ(frames.size(), 5);
    for (const QImage &frame : frames) {
        EXPECT_EQ(frame.size(), QSize(56, 55));
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(frame.pixel(28, 27)), 255);
    }
    // The highlights move: no two frames are alike.
    for (int i = 1; i < frames.size(); ++i)
        EXPECT_NE(frames[i], frames[i - 1]);
}

// The buttons' pictures are the committed files, and the program's own
// decoder reads each at its button's size.
TEST(Artwork, ButtonPicturesDecodeAtTheirButtonsSizes)
{
    const struct
    {
        const char *name;
        int width;
    } pictures[] = {{"BTSCAN", 194},          {"BTSCAN_OVER", 194},      {"BTSCAN_CLICK", 194},
                    {"BTSCAN_DISABLED", 194}, {"BTDELETE", 285},         {"BTDELETE_OVER", 285},
                    {"BTDELETE_CLICK", 285},  {"BTDELETE_DISABLED", 285}};
    for (const auto &picture : pictures) {
        const QByteArray bytes = Resources::data(QLatin1String(picture.name));
        EXPECT_EQ(bytes, committed(picture.name)) << picture.name;
        EXPECT_EQ(decodeJpeg(bytes).size(), QSize(picture.width, 56)) << picture.name;
    }
    // Each state has its own look.
    EXPECT_NE(decodeJpeg(Resources::data(QStringLiteral("BTSCAN"))),
              decodeJpeg(Resources::data(QStringLiteral("BTSCAN_OVER"))));
    EXPECT_NE(decodeJpeg(Resources::data(QStringLiteral("BTSCAN_CLICK"))),
              decodeJpeg(Resources::data(QStringLiteral("BTSCAN_DISABLED"))));
}

TEST(Artwork, BackgroundStillAndIconHaveTheirSizes)
{
    EXPECT_EQ(decodeJpeg(Resources::data(QStringLiteral("background"))).size(), QSize(800, 600));
    EXPECT_EQ(decodeJpeg(Resources::data(QStringLiteral("sphere"))).size(), QSize(56, 55));
    EXPECT_EQ(QImage::fromData(Resources::data(QStringLiteral("icon"))).size(), QSize(256, 256));
    EXPECT_TRUE(Resources::data(QStringLiteral("ICON_SVG")).startsWith("<?xml"));
}

} // namespace
