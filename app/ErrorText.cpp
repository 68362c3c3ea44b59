#include "app/ErrorText.h"

QString applicationTitleFrom(const QString &programPath)
{
    QString name = programPath.mid(programPath.lastIndexOf(QLatin1Char('/')) + 1);
    name = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

namespace {
QString &titleStorage()
{
    static QString title = QStringLiteral("Linkmend");
    return title;
}
} // namespace

QString applicationTitle()
{
    return titleStorage();
}
void setApplicationTitle(const QString &title)
{
    titleStorage() = title;
}

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}
