#include "TestPictures.h"

#include "resources/JpegDecoder.h"

#include <QImageWriter>

#include <gtest/gtest.h>

namespace {

bool near(QRgb a, QRgb b, int tolerance = 6)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

TEST(JpegDecoder, DecodesColourAndGreyPicturesToOpaqueRgb)
{
    const QImage colour = decodeJpeg(solidJpeg(33, 17, QColor(200, 40, 90)));
    EXPECT_EQ(colour.size(), QSize(33, 17));
    EXPECT_EQ(colour.format(), QImage::Format_RGB32);
    EXPECT_TRUE(near(colour.pixel(16, 8), qRgb(200, 40, 90)));
    EXPECT_EQ(qAlpha(colour.pixel(0, 0)), 255);

    QImage grey(20, 10, QImage::Format_Grayscale8);
    grey.fill(QColor(128, 128, 128));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(grey.save(&buffer, "JPEG"));
    const QImage decoded = decodeJpeg(bytes);
    EXPECT_EQ(decoded.size(), QSize(20, 10));
    EXPECT_TRUE(near(decoded.pixel(3, 3), qRgb(128, 128, 128)));
}

TEST(JpegDecoder, DecodesProgressivePictures)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(image));
    const QImage decoded = decodeJpeg(bytes);
    EXPECT_EQ(decoded.size(), QSize(40, 30));
    EXPECT_TRUE(near(decoded.pixel(20, 15), qRgb(10, 200, 30)));
}

TEST(JpegDecoder, UndecodableBytesRaiseJpegError)
{
    EXPECT_THROW(decodeJpeg(QByteArray()), JpegError);
    EXPECT_THROW(decodeJpeg(QByteArray("\x89PNG\r\n\x1a\n", 8)), JpegError);
    EXPECT_THROW(decodeJpeg(QByteArray(4096, '\0')), JpegError);
    try {
        decodeJpeg(QByteArray("GIF89a"));
        FAIL() << "no error";
    } catch (const JpegError &error) {
        EXPECT_NE(std::string(error.what()).find("Not a JPEG file"), std::string::npos) << error.what();
    }
}

TEST(JpegDecoder, DamagedFilesNeverCrash)
{
    const QByteArray good = solidJpeg(64, 48);
    // Every cut and a run of flipped bytes: each either decodes or raises.
    for (qsizetype cut = 0; cut < good.size(); cut += 7) {
        try {
            const QImage image = decodeJpeg(good.left(cut));
            EXPECT_EQ(image.size(), QSize(64, 48));
        } catch (const JpegError &) {
        }
    }
    for (qsizetype at = 2; at < good.size(); at += 11) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ 0x5A);
        try {
            decodeJpeg(bad);
        } catch (const JpegError &) {
        }
    }
}

TEST(JpegDecoder, RefusesHugeDimensions)
{
    QByteArray bytes = solidJpeg(8, 8);
    // Patch the frame header (SOF0: FF C0, length, precision, height, width).
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    for (int i : {5, 6, 7, 8})
        bytes[sof + i] = char(0xEA); // 60138 x 60138
    EXPECT_THROW(decodeJpeg(bytes), JpegError);
}

} // namespace
