#include "Drawings.h"

#include "resources/ArtworkColours.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace Drawings {

namespace {

QString g_family = QStringLiteral("Tahoma");

QFont font(double pixels, bool bold)
{
    QFont f(g_family);
    f.setPixelSize(int(pixels));
    f.setBold(bold);
    f.setStyleHint(QFont::SansSerif);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// Icon geometry, in a 256-unit square.
const QColor IconTop(0x3F, 0x90, 0xE8);
const QColor IconBottom(0x1B, 0x56, 0xA8);
const QColor LinkOutline(0x17, 0x4C, 0x96);
const QColor BadgeGreen(0x2F, 0xB3, 0x5F);
// Two stadium-shaped links on the rising diagonal, 96 units apart, so their
// rounded ends cross at a clear angle.
constexpr double LinkLength = 128, LinkWidth = 64, LinkStroke = 20, LinkOutlineStroke = 27;
const QPointF LinkA(94, 162), LinkB(162, 94), Crossing(108.5, 108.5);
constexpr double CrossingRadius = 15;
const QPointF BadgeCentre(184, 188);
constexpr double BadgeRadius = 40;

void paintLink(QPainter &p, QPointF centre)
{
    p.save();
    p.translate(centre);
    p.rotate(-45);
    const QRectF r(-LinkLength / 2, -LinkWidth / 2, LinkLength, LinkWidth);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(LinkOutline, LinkOutlineStroke));
    p.drawRoundedRect(r, LinkWidth / 2, LinkWidth / 2);
    p.setPen(QPen(Qt::white, LinkStroke));
    p.drawRoundedRect(r, LinkWidth / 2, LinkWidth / 2);
    p.restore();
}

} // namespace

void setFontFamily(const QString &family)
{
    g_family = family;
}

void paintIcon(QPainter &p, double size)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    QPainterPath face;
    face.addRoundedRect(QRectF(16, 16, 224, 224), 48, 48);
    QLinearGradient fill(0, 16, 0, 240);
    fill.setColorAt(0, IconTop);
    fill.setColorAt(1, IconBottom);
    p.fillPath(face, fill);
    // Gloss over the upper part.
    p.save();
    p.setClipPath(face);
    QLinearGradient gloss(0, 16, 0, 130);
    gloss.setColorAt(0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QPointF(128, 36), 170, 94);
    p.restore();

    // Two chain links, interlocked: B lies over A except at one crossing,
    // where A is laid again from a picture of its own, so the cut edges
    // blend as one layer.
    const int layerSize = int(std::ceil(size));
    QImage layerA(layerSize, layerSize, QImage::Format_ARGB32_Premultiplied);
    layerA.fill(Qt::transparent);
    {
        QPainter lp(&layerA);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.scale(size / 256.0, size / 256.0);
        paintLink(lp, LinkA);
    }
    paintLink(p, LinkA);
    paintLink(p, LinkB);
    p.save();
    QPainterPath crossing;
    crossing.addEllipse(Crossing, CrossingRadius, CrossingRadius);
    p.setClipPath(crossing);
    p.scale(256.0 / size, 256.0 / size);
    p.drawImage(QPointF(0, 0), layerA);
    p.restore();

    // The mended mark: a green badge with a tick.
    p.setPen(QPen(Qt::white, 8));
    p.setBrush(BadgeGreen);
    p.drawEllipse(BadgeCentre, BadgeRadius, BadgeRadius);
    QPen tick(Qt::white, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(tick);
    p.setBrush(Qt::NoBrush);
    const QPointF tickPoints[] = {BadgeCentre + QPointF(-19, 1), BadgeCentre + QPointF(-5, 15),
                                  BadgeCentre + QPointF(19, -12)};
    p.drawPolyline(tickPoints, 3);
    p.restore();
}

QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintIcon(p, size);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QByteArray iconSvg()
{
    const auto hex = [](const QColor &c) { return c.name().toLatin1(); };
    const auto link = [&](QPointF c) {
        const QByteArray transform =
            "rotate(-45 " + QByteArray::number(c.x()) + " " + QByteArray::number(c.y()) + ")";
        const QByteArray rect =
            "x=\"" + QByteArray::number(c.x() - LinkLength / 2) + "\" y=\"" +
            QByteArray::number(c.y() - LinkWidth / 2) + "\" width=\"" + QByteArray::number(LinkLength) +
            "\" height=\"" + QByteArray::number(LinkWidth) + "\" rx=\"" + QByteArray::number(LinkWidth / 2) +
            "\" transform=\"" + transform + "\" fill=\"none\"";
        return "    <rect " + rect + " stroke=\"" + hex(LinkOutline) + "\" stroke-width=\"" +
               QByteArray::number(LinkOutlineStroke) + "\"/>\n    <rect " + rect +
               " stroke=\"#ffffff\" stroke-width=\"" + QByteArray::number(LinkStroke) + "\"/>\n";
    };
    const auto pt = [](QPointF p) { return QByteArray::number(p.x()) + "," + QByteArray::number(p.y()); };
    QByteArray svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg +=
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n";
    svg += "  <defs>\n";
    svg += "    <linearGradient id=\"face\" x1=\"0\" y1=\"16\" x2=\"0\" y2=\"240\" "
           "gradientUnits=\"userSpaceOnUse\">\n";
    svg += "      <stop offset=\"0\" stop-color=\"" + hex(IconTop) + "\"/>\n";
    svg += "      <stop offset=\"1\" stop-color=\"" + hex(IconBottom) + "\"/>\n";
    svg += "    </linearGradient>\n";
    svg += "    <linearGradient id=\"gloss\" x1=\"0\" y1=\"16\" x2=\"0\" y2=\"130\" "
           "gradientUnits=\"userSpaceOnUse\">\n";
    svg += "      <stop offset=\"0\" stop-color=\"#ffffff\" stop-opacity=\"0.27\"/>\n";
    svg += "      <stop offset=\"1\" stop-color=\"#ffffff\" stop-opacity=\"0\"/>\n";
    svg += "    </linearGradient>\n";
    svg += "    <clipPath id=\"faceClip\"><rect x=\"16\" y=\"16\" width=\"224\" height=\"224\" "
           "rx=\"48\"/></clipPath>\n";
    svg += "    <clipPath id=\"crossing\"><circle cx=\"" + QByteArray::number(Crossing.x()) + "\" cy=\"" +
           QByteArray::number(Crossing.y()) + "\" r=\"" + QByteArray::number(CrossingRadius) +
           "\"/></clipPath>\n";
    svg += "  </defs>\n";
    svg += "  <rect x=\"16\" y=\"16\" width=\"224\" height=\"224\" rx=\"48\" fill=\"url(#face)\"/>\n";
    svg += "  <ellipse cx=\"128\" cy=\"36\" rx=\"170\" ry=\"94\" fill=\"url(#gloss)\" "
           "clip-path=\"url(#faceClip)\"/>\n";
    svg += "  <g>\n" + link(LinkA) + link(LinkB) + "  </g>\n";
    svg += "  <g clip-path=\"url(#crossing)\">\n" + link(LinkA) + "  </g>\n";
    svg += "  <circle cx=\"" + QByteArray::number(BadgeCentre.x()) + "\" cy=\"" +
           QByteArray::number(BadgeCentre.y()) + "\" r=\"" + QByteArray::number(BadgeRadius) + "\" fill=\"" +
           hex(BadgeGreen) + "\" stroke=\"#ffffff\" stroke-width=\"8\"/>\n";
    svg += "  <polyline points=\"" + pt(BadgeCentre + QPointF(-19, 1)) + " " +
           pt(BadgeCentre + QPointF(-5, 15)) + " " + pt(BadgeCentre + QPointF(19, -12)) +
           "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"12\" stroke-linecap=\"round\" "
           "stroke-linejoin=\"round\"/>\n";
    svg += "</svg>\n";
    return svg;
}

namespace {

// The maker's mark: four diamonds tiled into one, then the name.
void paintMakerLogo(QPainter &p, double right, double baseline)
{
    const QFont wordFont = font(21, true);
    QFontMetricsF metrics(wordFont);
    const QString word = QStringLiteral("Tessivane");
    const double wordWidth = metrics.horizontalAdvance(word);
    const double wordLeft = right - wordWidth;
    p.setFont(wordFont);
    p.setPen(QColor(0x33, 0x44, 0x5C));
    p.drawText(QPointF(wordLeft, baseline), word);

    const double centreY = baseline - metrics.capHeight() / 2;
    const double half = 7.0; // half diagonal of one small diamond
    const QPointF centre(wordLeft - 24, centreY);
    const QColor colours[] = {QColor(0x2B, 0x74, 0xC9), QColor(0x1F, 0xA3, 0x9A), QColor(0x6D, 0xBF, 0x4B),
                              QColor(0xF0, 0xA0, 0x30)};
    const QPointF offsets[] = {{0, -half - 1}, {half + 1, 0}, {0, half + 1}, {-half - 1, 0}};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        const QPointF c = centre + offsets[i];
        const QPointF diamond[] = {c + QPointF(0, -half), c + QPointF(half, 0), c + QPointF(0, half),
                                   c + QPointF(-half, 0)};
        p.setBrush(colours[i]);
        p.drawPolygon(diamond, 4);
    }
}

} // namespace

QImage background()
{
    constexpr int Width = 800, Height = 600, BannerHeight = 96, FooterTop = 500;
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(ArtworkColours::workingArea());
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Title banner.
    QLinearGradient banner(0, 0, 0, BannerHeight);
    banner.setColorAt(0, QColor(0x2E, 0x7A, 0xD0));
    banner.setColorAt(1, QColor(0x1B, 0x52, 0x9C));
    p.fillRect(QRect(0, 0, Width, BannerHeight), banner);
    // Soft light from the upper right.
    p.save();
    p.setClipRect(QRect(0, 0, Width, BannerHeight));
    QRadialGradient glow(QPointF(690, -40), 260);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, Width, BannerHeight), glow);
    // Faint rings, echoing the links of the icon.
    p.setPen(QPen(QColor(255, 255, 255, 22), 10));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(640, 70), 70, 70);
    p.drawEllipse(QPointF(730, 20), 70, 70);
    p.restore();
    // A bright rule under the banner and a short shadow onto the work area.
    p.fillRect(QRect(0, BannerHeight, Width, 3), QColor(0x6C, 0xB2, 0xF2));
    QLinearGradient shadow(0, BannerHeight + 3, 0, BannerHeight + 9);
    shadow.setColorAt(0, QColor(0x20, 0x30, 0x40, 45));
    shadow.setColorAt(1, QColor(0x20, 0x30, 0x40, 0));
    p.fillRect(QRect(0, BannerHeight + 3, Width, 6), shadow);

    QPainter *painter = &p;
    painter->save();
    painter->translate(22, 14);
    paintIcon(*painter, 68);
    painter->restore();

    p.setPen(Qt::white);
    p.setFont(font(38, true));
    p.drawText(QPointF(104, 55), QStringLiteral("Linkmend"));
    p.setPen(QColor(0xD6, 0xE6, 0xF8));
    p.setFont(font(14, false));
    p.drawText(QPointF(106, 79), QStringLiteral("Finds, repairs and clears away broken shortcuts"));

    // Footer band.
    QLinearGradient footer(0, FooterTop, 0, Height);
    footer.setColorAt(0, QColor(0xDC, 0xE1, 0xE8));
    footer.setColorAt(1, QColor(0xCF, 0xD6, 0xDF));
    p.fillRect(QRect(0, FooterTop, Width, Height - FooterTop), footer);
    p.fillRect(QRect(0, FooterTop, Width, 1), QColor(0xB6, 0xC0, 0xCD));
    p.fillRect(QRect(0, FooterTop + 1, Width, 1), QColor(0xF6, 0xF8, 0xFA));

    paintMakerLogo(p, 785, 588);
    p.end();
    return image;
}

QImage button(QSize size, const QString &caption, ButtonLook look)
{
    struct Colours
    {
        QColor top, bottom, border, text;
    };
    const Colours c = [look]() -> Colours {
        switch (look) {
        case ButtonLook::Hover:
            return {QColor(0xF4, 0xF9, 0xFF), QColor(0xD2, 0xE6, 0xFB), QColor(0x86, 0xB3, 0xE6),
                    QColor(0x1E, 0x62, 0xBE)};
        case ButtonLook::Pressed:
            return {QColor(0x9E, 0xC3, 0xEE), QColor(0xBF, 0xD9, 0xF6), QColor(0x4A, 0x80, 0xC2),
                    QColor(0x14, 0x48, 0x8E)};
        case ButtonLook::Disabled:
            return {QColor(0xEC, 0xED, 0xEF), QColor(0xD9, 0xDC, 0xE0), QColor(0xB3, 0xB8, 0xBF),
                    QColor(0x9A, 0xA0, 0xA8)};
        case ButtonLook::Normal:
            break;
        }
        return {QColor(0xE2, 0xEF, 0xFD), QColor(0xB8, 0xD5, 0xF4), QColor(0x6C, 0x9E, 0xD6),
                QColor(0x1A, 0x58, 0xAC)};
    }();

    QImage image(size, QImage::Format_RGB32);
    image.fill(ArtworkColours::workingArea());
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double radius = 13;
    const QRectF face(1.5, 1.5, size.width() - 3.0, size.height() - 4.0);

    // A soft shadow under the face (none when pressed in, or disabled).
    if (look != ButtonLook::Pressed && look != ButtonLook::Disabled) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x40, 0x55, 0x70, 40));
        p.drawRoundedRect(face.translated(0, 1.5), radius, radius);
    }
    QLinearGradient fill(0, face.top(), 0, face.bottom());
    fill.setColorAt(0, c.top);
    fill.setColorAt(1, c.bottom);
    p.setPen(QPen(c.border, 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(face, radius, radius);
    // Gloss on the upper half.
    if (look != ButtonLook::Disabled) {
        QPainterPath path;
        path.addRoundedRect(face.adjusted(2, 2, -2, -face.height() / 2), radius - 2, radius - 2);
        QLinearGradient gloss(0, face.top(), 0, face.center().y());
        gloss.setColorAt(0, QColor(255, 255, 255, look == ButtonLook::Pressed ? 40 : 110));
        gloss.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillPath(path, gloss);
    }

    p.setFont(font(16, true));
    QRectF textRect = face;
    if (look == ButtonLook::Pressed)
        textRect.translate(1, 1);
    if (look != ButtonLook::Disabled) {
        // A light edge under the letters lifts them off the face.
        p.setPen(QColor(255, 255, 255, 120));
        p.drawText(textRect.translated(0, 1), Qt::AlignCenter, caption);
    }
    p.setPen(c.text);
    p.drawText(textRect, Qt::AlignCenter, caption);
    p.end();
    return image;
}

namespace {

struct Vec
{
    double x, y, z;
    double dot(const Vec &o) const { return x * o.x + y * o.y + z * o.z; }
    Vec normalized() const
    {
        const double l = std::sqrt(dot(*this));
        return {x / l, y / l, z / l};
    }
};

struct Shade
{
    double r, g, b;
};

// Shades a ball pixel by pixel, 4 x 4 samples each. inside() gives the
// colour of a point on the ball from its surface normal.
template <typename Surface> QImage renderBall(QSize size, bool transparentGround, Surface surface)
{
    const QColor ground = ArtworkColours::workingArea();
    const double cx = size.width() / 2.0, cy = size.height() / 2.0;
    const double radius = std::min(size.width(), size.height()) / 2.0 - 1.5;
    QImage image(size, QImage::Format_ARGB32);
    constexpr int Samples = 4;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            double r = 0, g = 0, b = 0;
            int inside = 0;
            for (int sy = 0; sy < Samples; ++sy)
                for (int sx = 0; sx < Samples; ++sx) {
                    const double px = x + (sx + 0.5) / Samples, py = y + (sy + 0.5) / Samples;
                    const double nx = (px - cx) / radius, ny = (py - cy) / radius;
                    const double d2 = nx * nx + ny * ny;
                    if (d2 >= 1.0) {
                        r += ground.red();
                        g += ground.green();
                        b += ground.blue();
                        continue;
                    }
                    ++inside;
                    const Shade s = surface(Vec{nx, ny, std::sqrt(1.0 - d2)});
                    r += s.r;
                    g += s.g;
                    b += s.b;
                }
            constexpr int N = Samples * Samples;
            const auto clamp = [](double v) { return std::clamp(int(std::lround(v / N)), 0, 255); };
            if (transparentGround && inside == 0)
                image.setPixel(x, y, qRgba(0, 0, 0, 0));
            else
                image.setPixel(x, y, qRgb(clamp(r), clamp(g), clamp(b)));
        }
    return image;
}

double specular(const Vec &n, const Vec &light, double power)
{
    const Vec half = Vec{light.x, light.y, light.z + 1.0}.normalized();
    return std::pow(std::max(0.0, n.dot(half)), power);
}

} // namespace

QImage glossyBall(QSize size, double angleDegrees)
{
    const double a = qDegreesToRadians(angleDegrees);
    const Vec key = Vec{-0.45, -0.55, 0.70}.normalized();
    const Vec moving = Vec{0.62 * std::cos(a), 0.62 * std::sin(a), 0.78}.normalized();
    const Vec opposite = Vec{-0.75 * std::cos(a), -0.75 * std::sin(a), 0.45}.normalized();
    return renderBall(size, true, [&](const Vec &n) {
        const double diffuse = std::max(0.0, n.dot(key));
        const double light = 0.30 + 0.80 * diffuse;
        Shade s{22 * light + 8, 86 * light + 10, 205 * light + 20};
        // Light bounced up from below, for the glassy look.
        const double bounce = std::pow(std::max(0.0, n.y), 2.0) * std::pow(1.0 - n.z, 1.5);
        s.r += 40 * bounce;
        s.g += 150 * bounce;
        s.b += 255 * bounce;
        // The travelling highlight, a broad sheen round it, and a small
        // reflection on the far side.
        const double main = specular(n, moving, 70);
        const double sheen = specular(n, moving, 9) * 0.28;
        const double far = specular(n, opposite, 160) * 0.55;
        const double white = main + sheen + far;
        s.r += (255 - s.r) * std::min(1.0, white);
        s.g += (255 - s.g) * std::min(1.0, white);
        s.b += (255 - s.b) * std::min(1.0, white);
        return s;
    });
}

QImage paleSphere(QSize size)
{
    const Vec key = Vec{-0.45, -0.55, 0.70}.normalized();
    const Vec highlight = Vec{-0.45, -0.45, 0.78}.normalized();
    QImage ball = renderBall(size, false, [&](const Vec &n) {
        const double diffuse = std::max(0.0, n.dot(key));
        const double light = 0.72 + 0.30 * diffuse;
        Shade s{196 * light, 208 * light, 226 * light};
        const double white = specular(n, highlight, 40) * 0.8 + specular(n, highlight, 8) * 0.15;
        s.r += (255 - s.r) * std::min(1.0, white);
        s.g += (255 - s.g) * std::min(1.0, white);
        s.b += (255 - s.b) * std::min(1.0, white);
        return s;
    });
    return ball.convertToFormat(QImage::Format_RGB32);
}

QByteArray pageTemplate()
{
    static const char *const Lines[] = {
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">",
        "",
        "<html>",
        "",
        "  <head>",
        "\t<title></title>",
        "\t<style type=\"text/css\">",
        "body{",
        "border:0px;",
        "overflow:hidden;",
        "}",
        "</style>",
        "  </head>",
        "",
        "  <body background\t= \"c:\\savedata\\example.gif\";>",
        "",
        "  </body>",
        "</html>",
        "",
    };
    QByteArray page;
    for (const char *line : Lines) {
        page += line;
        page += "\r\n";
    }
    return page;
}

} // namespace Drawings
