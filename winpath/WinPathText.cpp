#include "winpath/WinPathText.h"

namespace WinPathText {

namespace {

bool isDriveLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool startsWithDrive(QStringView path)
{
    return path.size() >= 2 && path.at(1) == QLatin1Char(':') && isDriveLetter(path.at(0));
}

bool startsWithTwoSeparators(QStringView path)
{
    return path.size() >= 2 && isSeparator(path.at(0)) && isSeparator(path.at(1));
}

// The end of the name that starts at `at`: the next separator or the end.
qsizetype nameEnd(QStringView path, qsizetype at)
{
    while (at < path.size() && !isSeparator(path.at(at)))
        ++at;
    return at;
}

// A path with its "\\?\" prefix taken off: "\\?\C:\x" is "C:\x" and
// "\\?\UNC\srv\share" is "\\srv\share". A prefix before anything else (a
// volume name) stays, and so does every other path.
QString withoutLongPrefix(const QString &path)
{
    const QStringView view(path);
    if (!startsWithTwoSeparators(view) || view.size() < 4 || view.at(2) != QLatin1Char('?') ||
        !isSeparator(view.at(3)))
        return path;
    const QStringView rest = view.mid(4);
    if (startsWithDrive(rest))
        return rest.toString();
    if (rest.size() >= 4 && rest.left(3).compare(QLatin1String("UNC"), Qt::CaseInsensitive) == 0 &&
        isSeparator(rest.at(3)))
        return QStringLiteral("\\\\") + rest.mid(4).toString();
    return path;
}

} // namespace

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

QString asciiLower(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return result;
}

QString foldedName(const QString &name)
{
    return name.toCaseFolded();
}

QString normalizedName(const QString &name)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return name;
    qsizetype end = name.size();
    while (end > 0 && (name.at(end - 1) == QLatin1Char('.') || name.at(end - 1) == QLatin1Char(' ')))
        --end;
    return name.left(end);
}

bool sameName(const QString &a, const QString &b)
{
    return foldedName(normalizedName(a)) == foldedName(normalizedName(b));
}

std::optional<Parts> split(const QString &written)
{
    const QString path = withoutLongPrefix(written);
    const QStringView view(path);
    Parts out;
    qsizetype at = 0;
    if (startsWithDrive(view)) {
        if (view.size() > 2 && !isSeparator(view.at(2)))
            return std::nullopt; // drive-relative
        out.root = path.left(2);
        at = 2;
    } else if (startsWithTwoSeparators(view)) {
        // Server and share make the root; "\\." and "\\?" are devices.
        const qsizetype serverEnd = nameEnd(view, 2);
        const qsizetype shareEnd = serverEnd < view.size() ? nameEnd(view, serverEnd + 1) : serverEnd;
        const QStringView server = view.mid(2, serverEnd - 2);
        if (server.isEmpty() || shareEnd == serverEnd + 1 || shareEnd == serverEnd ||
            server == QLatin1String(".") || server == QLatin1String("?"))
            return std::nullopt;
        out.root = QStringLiteral("\\\\") + server.toString() + QLatin1Char('\\') +
                   view.mid(serverEnd + 1, shareEnd - serverEnd - 1).toString();
        at = shareEnd;
    } else {
        return std::nullopt;
    }
    while (at < view.size()) {
        const qsizetype end = nameEnd(view, at);
        const QString name = path.mid(at, end - at);
        at = end + 1;
        if (name.isEmpty() || name == QLatin1String(".") || normalizedName(name).isEmpty())
            continue;
        if (name == QLatin1String("..")) {
            if (!out.names.isEmpty())
                out.names.removeLast();
            continue;
        }
        out.names << name;
    }
    return out;
}

QString normalized(const QString &path)
{
    const std::optional<Parts> parts = split(path);
    if (!parts)
        return path;
    if (parts->names.isEmpty())
        return parts->isUnc() ? parts->root : parts->root + QLatin1Char('\\');
    QString result = parts->root;
    for (const QString &name : parts->names)
        result += QLatin1Char('\\') + normalizedName(name);
    return result;
}

QString drivePart(const QString &written)
{
    const QString path = withoutLongPrefix(written);
    const QStringView view(path);
    if (startsWithDrive(view))
        return path.left(2);
    if (!startsWithTwoSeparators(view))
        return QString();
    const qsizetype serverEnd = nameEnd(view, 2);
    if (serverEnd == 2)
        return QString();
    QString result = QStringLiteral("\\\\") + view.mid(2, serverEnd - 2).toString();
    if (serverEnd < view.size()) {
        const qsizetype shareEnd = nameEnd(view, serverEnd + 1);
        if (shareEnd > serverEnd + 1)
            result += QLatin1Char('\\') + view.mid(serverEnd + 1, shareEnd - serverEnd - 1).toString();
    }
    return result;
}

bool sameDrive(const QString &a, const QString &b)
{
    const QString drive = drivePart(a);
    return !drive.isEmpty() && asciiLower(drive) == asciiLower(drivePart(b));
}

QString folderPart(const QString &path)
{
    for (qsizetype i = path.size(); i > 0; --i) {
        if (isSeparator(path.at(i - 1)))
            return path.left(i);
    }
    return startsWithDrive(path) ? path.left(2) : QString();
}

QString finalName(const QString &path)
{
    if (isRoot(path))
        return QString();
    qsizetype end = path.size();
    while (end > 0 && isSeparator(path.at(end - 1)))
        --end;
    const QString name = path.left(end);
    return name.mid(folderPart(name).size());
}

QString join(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    return isSeparator(folder.back()) ? folder + name : folder + QLatin1Char('\\') + name;
}

bool isWithin(const QString &outer, const QString &inner)
{
    const std::optional<Parts> out = split(outer);
    const std::optional<Parts> in = split(inner);
    if (!out || !in || asciiLower(out->root) != asciiLower(in->root) || out->names.size() > in->names.size())
        return false;
    for (qsizetype i = 0; i < out->names.size(); ++i) {
        if (!sameName(out->names.at(i), in->names.at(i)))
            return false;
    }
    return true;
}

bool isRoot(const QString &path)
{
    const std::optional<Parts> parts = split(path);
    return parts && parts->names.isEmpty();
}

std::optional<QString> placeRelative(const QString &relative, const QString &shortcutWinPath)
{
    if (relative.isEmpty())
        return std::nullopt;
    QString combined;
    if (split(relative)) {
        combined = relative;
    } else if (startsWithTwoSeparators(relative) ||
               (relative.size() >= 2 && relative.at(1) == QLatin1Char(':'))) {
        // A device path, or drive-relative: from that drive's current
        // folder, which is unknown here.
        return std::nullopt;
    } else {
        const std::optional<Parts> shortcut = split(shortcutWinPath);
        if (!shortcut || shortcut->names.isEmpty())
            return std::nullopt;
        if (isSeparator(relative.at(0))) {
            combined = shortcut->root + relative;
        } else {
            QStringList folder = shortcut->names;
            folder.removeLast();
            folder.prepend(shortcut->root);
            combined = folder.join(QLatin1Char('\\')) + QLatin1Char('\\') + relative;
        }
    }
    const std::optional<Parts> parts = split(combined);
    if (!parts)
        return std::nullopt;
    if (parts->names.isEmpty())
        return parts->isUnc() ? parts->root : parts->root + QLatin1Char('\\');
    return parts->root + QLatin1Char('\\') + parts->names.join(QLatin1Char('\\'));
}

} // namespace WinPathText
