// make-artwork: draws the pictures Linkmend carries and writes them, with
// the busy animation and its page, into resources/data/ (or the folder given
// as the only argument). Resource names are the file names: upper case, no
// extension.

#include "Drawings.h"
#include "Gif.h"
#include "Jpeg.h"

#include "resources/ArtworkColours.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

QString g_folder;

void fail(const QString &message)
{
    std::fprintf(stderr, "make-artwork: %s\n", qPrintable(message));
    std::exit(1);
}

void save(const QString &name, const QByteArray &bytes)
{
    QFile file(g_folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    std::printf("%-20s %7lld bytes\n", qPrintable(name), static_cast<long long>(bytes.size()));
}

void saveJpeg(const QString &name, const QImage &image, int quality)
{
    save(name, encodeBaselineJpeg(image, quality));
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        fail(QStringLiteral("cannot encode PNG"));
    return bytes;
}

void loadFonts()
{
    // Only the regular face: fonts-wine's bold face comes out thin and wide,
    // while Qt's emboldened regular face looks like the usual Tahoma Bold.
    QString family;
    const int id = QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    if (id >= 0)
        family = QFontDatabase::applicationFontFamilies(id).value(0);
    if (family.isEmpty()) {
        std::fprintf(stderr,
                     "make-artwork: Tahoma not found (Debian package fonts-wine); using a sans face\n");
        family = QStringLiteral("DejaVu Sans");
    }
    Drawings::setFontFamily(family);
}

// The busy animation: a glossy ball whose highlight travels once round it in
// five frames. Frame 1 is complete; frames 2 to 5 leave the previous frame in
// place (disposal 1) and give only the pixels that change, the rest
// transparent; frame 5 is cleared to the background afterwards (disposal 2)
// before the loop starts again with frame 1.
QByteArray animation()
{
    constexpr int Frames = 5, Transparent = 237, Background = 175;
    const QSize size(56, 55);
    QList<QImage> images;
    for (int i = 0; i < Frames; ++i)
        images.append(Drawings::glossyBall(size, -120.0 + 72.0 * i));
    const Quantized q = quantize(images, 255);

    GifAnimation gif;
    gif.width = size.width();
    gif.height = size.height();
    gif.sortedPalette = true;
    gif.backgroundIndex = Background;
    gif.transparentIndex = Transparent;
    gif.loopCount = 0;
    // The colours in order of use, skipping the transparent slot, which holds
    // the working area's colour for readers that ignore transparency.
    QList<int> slotOf(q.colours.size());
    gif.palette.fill(qRgb(0, 0, 0));
    int slot = 0;
    for (int i = 0; i < q.colours.size(); ++i) {
        if (slot == Transparent)
            ++slot;
        slotOf[i] = slot;
        gif.palette[std::size_t(slot)] = q.colours[i];
        ++slot;
    }
    gif.palette[Transparent] = ArtworkColours::workingArea().rgb();

    QList<quint8> previous;
    for (int i = 0; i < Frames; ++i) {
        QList<quint8> full;
        for (int index : q.indices[i])
            full.append(index < 0 ? quint8(Transparent) : quint8(slotOf[index]));
        GifFrame frame;
        frame.delay = 1;
        frame.disposal = i == Frames - 1 ? 2 : 1;
        frame.indices = full;
        if (i > 0)
            for (qsizetype p = 0; p < full.size(); ++p)
                if (full[p] == previous[p])
                    frame.indices[p] = quint8(Transparent);
        gif.frames.append(frame);
        previous = full;
    }
    const QByteArray bytes = encodeGif(gif);

    // Read it back: every frame must come out as drawn.
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    for (int i = 0; i < Frames; ++i) {
        const QImage decoded = reader.read();
        if (decoded.isNull())
            fail(QStringLiteral("the animation does not read back: %1").arg(reader.errorString()));
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const int index = q.indices[i][y * size.width() + x];
                const QRgb want = index < 0 ? 0 : q.colours[index];
                const QRgb got = decoded.pixel(x, y);
                if (index < 0 ? qAlpha(got) != 0 : (got | 0xFF000000u) != (want | 0xFF000000u))
                    fail(QStringLiteral("frame %1 differs at %2,%3").arg(i + 1).arg(x).arg(y));
            }
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(LINKMEND_RESOURCE_DATA);
    if (!QDir().mkpath(g_folder))
        fail(QStringLiteral("cannot make %1").arg(g_folder));
    loadFonts();

    saveJpeg(QStringLiteral("BACKGROUND"), Drawings::background(), 92);
    saveJpeg(QStringLiteral("SPHERE"), Drawings::paleSphere(QSize(56, 55)), 92);

    save(QStringLiteral("ICON"), png(Drawings::icon(256)));
    for (int size : {16, 32, 48, 64, 128})
        save(QStringLiteral("ICON_%1").arg(size), png(Drawings::icon(size)));
    save(QStringLiteral("ICON_SVG"), Drawings::iconSvg());

    using Drawings::ButtonLook;
    const struct
    {
        const char *name;
        ButtonLook look;
    } looks[] = {{"", ButtonLook::Normal},
                 {"_OVER", ButtonLook::Hover},
                 {"_CLICK", ButtonLook::Pressed},
                 {"_DISABLED", ButtonLook::Disabled}};
    for (const auto &look : looks) {
        saveJpeg(QStringLiteral("BTSCAN") + QLatin1String(look.name),
                 Drawings::button(QSize(194, 56), QStringLiteral("Scan Shortcuts"), look.look), 95);
        saveJpeg(QStringLiteral("BTDELETE") + QLatin1String(look.name),
                 Drawings::button(QSize(285, 56), QStringLiteral("Delete Broken Shortcuts"), look.look), 95);
    }

    save(QStringLiteral("EXAMPLE"), animation());
    save(QStringLiteral("UNTITLED3"), Drawings::pageTemplate());
    return 0;
}
