#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRgb>

#include <array>

// A GIF89a animation with one global colour table, written by hand so that
// every field is exactly what the program's animation needs.
struct GifFrame
{
    QList<quint8> indices; // width * height palette indices, row by row
    int delay = 1;         // hundredths of a second
    int disposal = 1;      // 1 leave in place, 2 restore to background
};

struct GifAnimation
{
    int width = 0;
    int height = 0;
    std::array<QRgb, 256> palette{};
    bool sortedPalette = true;
    int backgroundIndex = 0;
    int transparentIndex = 0; // used by every frame's graphic control extension
    int loopCount = 0;        // NETSCAPE2.0 loop count; 0 repeats for ever
    QList<GifFrame> frames;
};

QByteArray encodeGif(const GifAnimation &animation);

// LZW as GIF uses it (variable code size from minCodeSize + 1 up to 12 bits,
// a clear code first and whenever the table is full), packed into
// sub-blocks of at most 255 bytes and ended by an empty block.
QByteArray gifImageData(const QList<quint8> &indices, int minCodeSize = 8);

// Reduces the opaque pixels of several frames to at most maxColours colours
// (median cut) and returns the colours ordered from the most used to the
// least used, with each pixel's colour index (-1 for transparent pixels).
struct Quantized
{
    QList<QRgb> colours;
    QList<QList<int>> indices; // per frame
};
Quantized quantize(const QList<QImage> &frames, int maxColours);
