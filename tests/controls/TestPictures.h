#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

// A small JPEG of one colour, written with Qt's encoder (the program itself
// only decodes). Tests tell pictures apart by their widths.
inline QByteArray solidJpeg(int width, int height, const QColor &colour = QColor(40, 120, 220))
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}
