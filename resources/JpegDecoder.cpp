#include "resources/JpegDecoder.h"

#include <QSysInfo>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

JpegError::JpegError(const std::string &reason) : std::runtime_error("JPEG error: " + reason) {}

namespace {

// The largest picture we agree to decode: far beyond any picture the program
// carries, small enough that a forged header cannot ask for gigabytes.
constexpr qint64 MaxSide = 16384;
constexpr qint64 MaxPixels = qint64(64) * 1024 * 1024;

// libjpeg reports a fatal error by calling error_exit, which must not return.
// Ours formats the message and jumps back to the setjmp of the step that
// called into libjpeg. Those steps (below) are plain functions whose only
// locals are trivially destructible, so the jump skips no C++ destructor;
// the C++ caller turns their false result into a JpegError afterwards.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct Session
{
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    bool created;
};

[[noreturn]] void onFatalError(j_common_ptr cinfo)
{
    auto *error = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

// Warnings and trace messages are not printed on the terminal.
void onMessage(j_common_ptr, int) {}

bool createAndReadHeader(Session *s, const unsigned char *data, unsigned long size)
{
    if (setjmp(s->error.jump))
        return false;
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    jpeg_mem_src(&s->cinfo, data, size);
    jpeg_read_header(&s->cinfo, TRUE);
    return true;
}

// Decodes every scanline. Pixels go straight into the picture's rows, or,
// for CMYK, into cmykRow first and are converted by the caller's callback.
struct Output
{
    unsigned char *bits;
    qint64 stride;
    unsigned char *cmykRow;
    void (*convertCmyk)(const unsigned char *cmyk, unsigned char *rgb32, unsigned width, bool inverted);
    bool invertedCmyk;
};

bool decodeScanlines(Session *s, const Output *out)
{
    if (setjmp(s->error.jump))
        return false;
    jpeg_start_decompress(&s->cinfo);
    while (s->cinfo.output_scanline < s->cinfo.output_height) {
        unsigned char *row = out->bits + qint64(s->cinfo.output_scanline) * out->stride;
        JSAMPROW target = out->cmykRow ? out->cmykRow : row;
        if (jpeg_read_scanlines(&s->cinfo, &target, 1) != 1)
            return false; // cannot happen with a memory source; guards the loop
        if (out->cmykRow)
            out->convertCmyk(out->cmykRow, row, s->cinfo.output_width, out->invertedCmyk);
    }
    jpeg_finish_decompress(&s->cinfo);
    return true;
}

void cmykToRgb32(const unsigned char *cmyk, unsigned char *rgb32, unsigned width, bool inverted)
{
    auto *pixels = reinterpret_cast<QRgb *>(rgb32);
    for (unsigned x = 0; x < width; ++x) {
        int c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        pixels[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

struct SessionGuard
{
    Session session{};
    ~SessionGuard()
    {
        if (session.created)
            jpeg_destroy_decompress(&session.cinfo);
    }
};

} // namespace

QImage decodeJpeg(const QByteArray &bytes)
{
    SessionGuard guard;
    Session *s = &guard.session;
    s->cinfo.err = jpeg_std_error(&s->error.pub);
    s->error.pub.error_exit = onFatalError;
    s->error.pub.emit_message = onMessage;
    s->error.pub.output_message = [](j_common_ptr) {};

    if (!createAndReadHeader(s, reinterpret_cast<const unsigned char *>(bytes.constData()),
                             static_cast<unsigned long>(bytes.size())))
        throw JpegError(s->error.message);

    const qint64 width = s->cinfo.image_width;
    const qint64 height = s->cinfo.image_height;
    if (width < 1 || height < 1 || width > MaxSide || height > MaxSide || width * height > MaxPixels)
        throw JpegError("picture of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large");

    const bool cmyk = s->cinfo.jpeg_color_space == JCS_CMYK || s->cinfo.jpeg_color_space == JCS_YCCK;
    if (cmyk)
        s->cinfo.out_color_space = JCS_CMYK;
    else
        // Four bytes per pixel in the order QImage::Format_RGB32 keeps in
        // memory; libjpeg sets the padding byte to 0xFF.
        s->cinfo.out_color_space =
            QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;

    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull())
        throw JpegError("out of memory for a picture of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels");
    std::vector<unsigned char> cmykRow(cmyk ? std::size_t(width) * 4 : 0);
    const Output out{image.bits(), image.bytesPerLine(), cmyk ? cmykRow.data() : nullptr, cmykToRgb32,
                     bool(s->cinfo.saw_Adobe_marker)};
    if (!decodeScanlines(s, &out))
        throw JpegError(s->error.message[0] ? std::string(s->error.message) : std::string("decoding failed"));
    return image;
}
