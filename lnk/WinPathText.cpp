#include "lnk/WinPathText.h"

#include <QStringList>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool isDriveLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// A path split at its root: "c:" or "\\server\share", then its names.
struct Split
{
    QString root;
    QStringList names;
};

std::optional<Split> split(const QString &path)
{
    Split out;
    QStringView rest;
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':') && isDriveLetter(path.at(0))) {
        if (path.size() > 2 && !isSeparator(path.at(2)))
            return std::nullopt; // drive-relative
        out.root = path.left(2);
        rest = QStringView(path).mid(2);
    } else if (path.size() >= 2 && isSeparator(path.at(0)) && isSeparator(path.at(1))) {
        // Server and share make the root.
        qsizetype at = 2;
        QStringList parts;
        while (parts.size() < 2 && at < path.size()) {
            qsizetype end = at;
            while (end < path.size() && !isSeparator(path.at(end)))
                ++end;
            if (end == at)
                return std::nullopt;
            parts << path.mid(at, end - at);
            at = end + 1;
        }
        if (parts.size() < 2)
            return std::nullopt;
        out.root = QStringLiteral("\\\\") + parts.join(QLatin1Char('\\'));
        rest = at < path.size() ? QStringView(path).mid(at) : QStringView();
    } else {
        return std::nullopt;
    }
    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && !isSeparator(rest.at(i)))
            continue;
        if (i > start)
            out.names << rest.mid(start, i - start).toString();
        start = i + 1;
    }
    return out;
}

} // namespace

namespace WinPathText {

bool isRoot(const QString &path)
{
    const std::optional<Split> parts = split(path);
    return parts && parts->names.isEmpty();
}

QString finalName(const QString &path)
{
    if (isRoot(path))
        return QString();
    qsizetype end = path.size();
    while (end > 0 && isSeparator(path.at(end - 1)))
        --end;
    qsizetype start = end;
    while (start > 0 && !isSeparator(path.at(start - 1)))
        --start;
    return path.mid(start, end - start);
}

std::optional<QString> placeRelative(const QString &relative, const QString &shortcutWinPath)
{
    if (relative.isEmpty())
        return std::nullopt;
    QString combined;
    if (split(relative)) {
        combined = relative;
    } else if (relative.size() >= 2 && relative.at(1) == QLatin1Char(':')) {
        return std::nullopt; // drive-relative: from that drive's current folder, unknown here
    } else {
        const std::optional<Split> shortcut = split(shortcutWinPath);
        if (!shortcut || shortcut->names.isEmpty())
            return std::nullopt;
        if (isSeparator(relative.at(0))) {
            combined = shortcut->root + relative;
        } else {
            QStringList folder = shortcut->names;
            folder.removeLast();
            combined = shortcut->root + QLatin1Char('\\') + folder.join(QLatin1Char('\\')) +
                       QLatin1Char('\\') + relative;
        }
    }
    const std::optional<Split> parts = split(combined);
    if (!parts)
        return std::nullopt;
    QStringList names;
    for (const QString &name : parts->names) {
        if (name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            if (!names.isEmpty())
                names.removeLast();
            continue;
        }
        names << name;
    }
    if (names.isEmpty())
        return parts->root.startsWith(QLatin1Char('\\')) ? parts->root : parts->root + QLatin1Char('\\');
    return parts->root + QLatin1Char('\\') + names.join(QLatin1Char('\\'));
}

} // namespace WinPathText
