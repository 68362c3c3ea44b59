#pragma once

#include "winpath/WinPathText.h"

#include <QChar>
#include <QString>

// Case changes of the 26 ASCII letters only, as drive letters and the
// program's path rules compare them; every other character stays as it is.
namespace AsciiCase {

inline char16_t upper(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? char16_t(u - (u'a' - u'A')) : u;
}

inline QChar lower(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') ? QChar(char16_t(u + (u'a' - u'A'))) : c;
}

constexpr char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

inline QString lower(const QString &text)
{
    return WinPathText::asciiLower(text);
}

} // namespace AsciiCase
