#pragma once

#include <QColor>

// Colours the program's pictures are drawn in (tools/make-artwork), for
// controls that must blend with them.
namespace ArtworkColours {

// The plain working area of the background picture, where the controls sit.
inline QColor workingArea()
{
    return QColor(0xEE, 0xF0, 0xF3);
}

} // namespace ArtworkColours
