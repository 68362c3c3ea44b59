#pragma once

#include <QByteArray>
#include <QImage>

#include <stdexcept>
#include <string>

// A picture whose bytes libjpeg cannot decode. The message is libjpeg's own
// reason, for instance "Not a JPEG file: starts with 0x89 0x50".
class JpegError : public std::runtime_error
{
public:
    explicit JpegError(const std::string &reason);
};

// Decodes a whole JPEG file (baseline or progressive; grey, YCbCr, RGB or
// CMYK) with libjpeg into an opaque QImage of Format_RGB32. Throws JpegError
// when the bytes are no decodable JPEG or the picture is implausibly large.
// Warnings (for instance a file cut short, whose missing rows come out grey)
// are not failures, as with every other JPEG reader.
QImage decodeJpeg(const QByteArray &bytes);
