// Checks the committed pictures and the animation byte by byte, as the
// generator in tools/make-artwork wrote them.

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

// Reads a file front to back, every read bounds-checked.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}
    bool has(qint64 n) const { return m_at + n <= m_bytes.size(); }
    int u8()
    {
        if (!has(1)) {
            m_failed = true;
            return -1;
        }
        return quint8(m_bytes[m_at++]);
    }
    int u16le()
    {
        const int lo = u8();
        const int hi = u8();
        return lo | (hi << 8);
    }
    int u16be()
    {
        const int hi = u8();
        const int lo = u8();
        return (hi << 8) | lo;
    }
    QByteArray take(qint64 n)
    {
        if (!has(n)) {
            m_failed = true;
            return {};
        }
        const QByteArray part = m_bytes.mid(m_at, n);
        m_at += n;
        return part;
    }
    void skip(qint64 n) { take(n); }
    bool failed() const { return m_failed; }
    qint64 at() const { return m_at; }
    qint64 size() const { return m_bytes.size(); }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
    bool m_failed = false;
};

TEST(Artwork, AnimationHasTheExpectedGifStructure)
{
    Reader r(committed("EXAMPLE"));
    EXPECT_EQ(r.take(6), QByteArray("GIF89a"));
    // Logical screen descriptor.
    EXPECT_EQ(r.u16le(), 56);
    EXPECT_EQ(r.u16le(), 55);
    const int packed = r.u8();
    EXPECT_TRUE(packed & 0x80) << "global colour table";
    EXPECT_TRUE(packed & 0x08) << "sorted";
    EXPECT_EQ(packed & 0x07, 7) << "256 entries";
    EXPECT_EQ(r.u8(), 175) << "background index";
    EXPECT_EQ(r.u8(), 0) << "pixel aspect";
    r.skip(3 * 256);

    // NETSCAPE2.0, loop count 0.
    EXPECT_EQ(r.u8(), 0x21);
    EXPECT_EQ(r.u8(), 0xFF);
    EXPECT_EQ(r.u8(), 11);
    EXPECT_EQ(r.take(11), QByteArray("NETSCAPE2.0"));
    EXPECT_EQ(r.u8(), 3);
    EXPECT_EQ(r.u8(), 1);
    EXPECT_EQ(r.u16le(), 0);
    EXPECT_EQ(r.u8(), 0);

    QList<int> disposals;
    for (;;) {
        const int introducer = r.u8();
        if (introducer != 0x21) {
            ASSERT_EQ(introducer, 0x3B) << "trailer expected at " << r.at();
        }
        if (introducer == 0x3B || r.failed())
            break;
        // Graphic control extension, then the frame.
        ASSERT_EQ(r.u8(), 0xF9);
        ASSERT_EQ(r.u8(), 4);
        const int gce = r.u8();
        EXPECT_TRUE(gce & 0x01) << "transparency on";
        disposals << ((gce >> 2) & 7);
        EXPECT_EQ(r.u16le(), 1) << "delay";
        EXPECT_EQ(r.u8(), 237) << "transparent index";
        EXPECT_EQ(r.u8(), 0);

        ASSERT_EQ(r.u8(), 0x2C) << "image descriptor";
        EXPECT_EQ(r.u16le(), 0);
        EXPECT_EQ(r.u16le(), 0);
        EXPECT_EQ(r.u16le(), 56);
        EXPECT_EQ(r.u16le(), 55);
        EXPECT_EQ(r.u8(), 0) << "no local colour table, not interlaced";
        EXPECT_EQ(r.u8(), 8) << "LZW minimum code size";
        for (int length = r.u8(); length > 0 && !r.failed(); length = r.u8())
            r.skip(length);
    }
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.at(), r.size()) << "nothing after the trailer";
    EXPECT_EQ(disposals, QList<int>({1, 1, 1, 1, 2}));
}

TEST(Artwork, AnimationFramesDecodeAsAnOpaqueBallOnTransparentGround)
{
    QByteArray bytes = committed("EXAMPLE");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
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

// The frame header of a JPEG: its marker, size and component count.
struct JpegFrame
{
    int marker = 0, width = 0, height = 0, components = 0;
};

JpegFrame jpegFrame(const QByteArray &bytes)
{
    Reader r(bytes);
    if (r.u8() != 0xFF || r.u8() != 0xD8)
        return {};
    while (!r.failed()) {
        if (r.u8() != 0xFF)
            return {};
        const int marker = r.u8();
        const int length = r.u16be();
        if (length < 2)
            return {};
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            JpegFrame f;
            f.marker = marker;
            r.u8(); // precision
            f.height = r.u16be();
            f.width = r.u16be();
            f.components = r.u8();
            return r.failed() ? JpegFrame{} : f;
        }
        r.skip(length - 2);
    }
    return {};
}

TEST(Artwork, ButtonPicturesAreBaselineJpegsWithThreeComponents)
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
        const JpegFrame frame = jpegFrame(bytes);
        EXPECT_EQ(frame.marker, 0xC0) << picture.name << " is not baseline";
        EXPECT_EQ(frame.components, 3) << picture.name;
        EXPECT_EQ(QSize(frame.width, frame.height), QSize(picture.width, 56)) << picture.name;
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
