#include "shell/DesktopEntry.h"

#include <QRegularExpression>

namespace {

// Characters the Desktop Entry Specification reserves in Exec: outside
// quotes they must be escaped or quoted.
bool isReserved(QChar c)
{
    return QStringView(u"'><~|&;$*?#()`").contains(c);
}

// Field codes of the Exec key; with no files to hand over, an argument that
// is only one of them stands for nothing.
bool isFieldCode(const QString &argument)
{
    return argument.size() == 2 && argument.at(0) == QLatin1Char('%') &&
           QStringView(u"fFuUdDnNickvm").contains(argument.at(1));
}

bool isWineProgram(const QString &argument)
{
    static const QRegularExpression name(QStringLiteral("^wine(64)?(-[A-Za-z0-9._]+)?$"));
    return name.match(argument.section(QLatin1Char('/'), -1)).hasMatch();
}

// "start", "start.exe", or a Windows or Unix path ending in either.
bool isStartProgram(const QString &argument)
{
    QString name = argument.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    return name.compare(QLatin1String("start.exe"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("start"), Qt::CaseInsensitive) == 0;
}

bool isShortcutName(const QString &path)
{
    return path.endsWith(QLatin1String(".lnk"), Qt::CaseInsensitive);
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(const QByteArray &contents)
{
    DesktopEntry entry;
    bool inGroup = false;
    bool seen = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        QByteArray line = rawLine;
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            // The group the keys belong to; a file names it once.
            inGroup = trimmed == "[Desktop Entry]";
            if (inGroup && seen)
                return std::nullopt;
            seen = seen || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        // Space around '=' is no part of the key or the value.
        const QString key = QString::fromUtf8(line.left(equals).trimmed());
        QByteArray value = line.mid(equals + 1);
        while (!value.isEmpty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove(0, 1);
        if (entry.m_values.contains(key))
            return std::nullopt;
        entry.m_values.insert(key, QString::fromUtf8(value));
    }
    if (!seen)
        return std::nullopt;
    return entry;
}

std::optional<QString> DesktopEntry::string(const QString &key) const
{
    const auto found = m_values.constFind(key);
    if (found == m_values.cend())
        return std::nullopt;
    const QString &raw = *found;
    QString value;
    value.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\')) {
            value += c;
            continue;
        }
        if (++i >= raw.size())
            return std::nullopt;
        switch (raw.at(i).unicode()) {
        case 's':
            value += QLatin1Char(' ');
            break;
        case 'n':
            value += QLatin1Char('\n');
            break;
        case 't':
            value += QLatin1Char('\t');
            break;
        case 'r':
            value += QLatin1Char('\r');
            break;
        case '\\':
            value += QLatin1Char('\\');
            break;
        default:
            return std::nullopt;
        }
    }
    return value;
}

std::optional<QStringList> DesktopEntry::execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false; // an argument has begun, perhaps with an empty quoted run
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringView(u"\"`$\\").contains(exec.at(i + 1))) {
                current += exec.at(++i);
            } else {
                current += c;
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('\\')) {
            if (++i >= exec.size())
                return std::nullopt;
            current += exec.at(i);
        } else if (isReserved(c)) {
            return std::nullopt;
        } else {
            current += c;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments << current;

    // Field codes, once the quoting is undone.
    QStringList expanded;
    for (const QString &argument : std::as_const(arguments)) {
        if (isFieldCode(argument))
            continue;
        QString plain = argument;
        plain.replace(QLatin1String("%%"), QLatin1String("%"));
        expanded << plain;
    }
    return expanded;
}

std::optional<WineLaunch> WineLaunch::fromArguments(const QStringList &arguments)
{
    if (arguments.size() < 3 || arguments.first() != QLatin1String("env"))
        return std::nullopt;
    WineLaunch launch;
    bool prefixSeen = false;
    qsizetype i = 1;
    // The variables env sets, up to the program.
    static const QRegularExpression variable(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*="));
    for (; i < arguments.size() && variable.match(arguments.at(i)).hasMatch(); ++i) {
        const QString &assignment = arguments.at(i);
        if (!assignment.startsWith(QLatin1String("WINEPREFIX=")))
            continue;
        if (prefixSeen)
            return std::nullopt;
        prefixSeen = true;
        launch.prefix = assignment.mid(int(qstrlen("WINEPREFIX="))).toUtf8();
    }
    if (!prefixSeen || launch.prefix.isEmpty() || i >= arguments.size() || !isWineProgram(arguments.at(i)))
        return std::nullopt;
    const QStringList rest = arguments.mid(i + 1);
    if (rest.size() == 1 && isShortcutName(rest.first())) {
        launch.windowsPath = rest.first();
        return launch;
    }
    if (rest.size() == 3 && isStartProgram(rest.at(0)) &&
        rest.at(1).compare(QLatin1String("/Unix"), Qt::CaseInsensitive) == 0 &&
        rest.at(2).startsWith(QLatin1Char('/')) && isShortcutName(rest.at(2))) {
        launch.unixPath = rest.at(2).toUtf8();
        return launch;
    }
    return std::nullopt;
}

std::optional<WineLaunch> WineLaunch::fromEntry(const DesktopEntry &entry)
{
    const std::optional<QString> exec = entry.string(QStringLiteral("Exec"));
    if (!exec)
        return std::nullopt;
    const std::optional<QStringList> arguments = DesktopEntry::execArguments(*exec);
    if (!arguments)
        return std::nullopt;
    return fromArguments(*arguments);
}
