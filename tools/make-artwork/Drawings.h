#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

class QPainter;

// The program's artwork, drawn with Qt. Fonts: Tahoma (regular and bold)
// when the caller loaded it, else the closest sans face.
namespace Drawings {

void setFontFamily(const QString &family);

// The application icon, drawn into a square of the given size.
void paintIcon(QPainter &painter, double size);
QImage icon(int size);
// The same icon as SVG.
QByteArray iconSvg();

// 800 x 600: title banner, plain working area, footer band with the maker's
// logo at the bottom right.
QImage background();

enum class ButtonLook { Normal, Hover, Pressed, Disabled };
// A light-blue rounded button face with its caption (grey when disabled),
// on the working area's colour.
QImage button(QSize size, const QString &caption, ButtonLook look);

// A glossy blue ball whose main highlight stands at angleDegrees around it
// (0 = right, 90 = down), on transparent ground (edge pixels blended with
// the working area's colour, so they need no partial transparency).
QImage glossyBall(QSize size, double angleDegrees);
// The still, pale sphere on the working area's colour.
QImage paleSphere(QSize size);

// The busy animation page: 19 lines, CR LF, naming the picture on line 15.
QByteArray pageTemplate();

} // namespace Drawings
