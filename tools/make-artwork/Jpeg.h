#pragma once

#include <QByteArray>
#include <QImage>

// A baseline JPEG (SOF0) with three YCbCr components and no chroma
// subsampling, so the captions stay crisp.
QByteArray encodeBaselineJpeg(const QImage &image, int quality);
