#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The [Desktop Entry] group of a desktop entry file, read as text by the
// freedesktop.org Desktop Entry Specification's rules: "Key=Value" lines,
// comments and other groups passed over, localised keys ("Name[de]") kept
// apart from their plain key. Nothing here touches a disk.
class DesktopEntry
{
public:
    // Nothing when the text has no [Desktop Entry] group, or that group
    // names a key twice (the file is then not one a reader could trust).
    static std::optional<DesktopEntry> parse(const QByteArray &contents);

    // A key's value of type string, its escapes ("\s", "\n", "\t", "\r",
    // "\\") undone. Nothing when the key is absent or its value holds any
    // other escape (or ends in a lone backslash), which makes it invalid.
    std::optional<QString> string(const QString &key) const;

    // The arguments of an Exec value (a string already unescaped): split at
    // unquoted spaces and tabs, quoting undone. A double-quoted run may be
    // part of an argument ("WINEPREFIX=\"/a b\""); inside it a backslash
    // makes the next '"', '`', '$' or '\' plain and stands for itself
    // before anything else. Outside quotes a backslash makes the next
    // character plain, as the programs that write launchers escape spaces
    // and backslashes. The field code "%%" is a percent sign; an argument
    // that is only a field code ("%f", "%U") stands for no file and goes.
    // Nothing for an unterminated quote, a lone final backslash, or a
    // reserved character ('\'', '>', '<', '~', '|', '&', ';', '$', '*',
    // '?', '#', '(', ')', '`') left bare outside quotes, which makes the line
    // invalid.
    static std::optional<QStringList> execArguments(const QString &exec);

private:
    QHash<QString, QString> m_values; // raw values, as written after '='
};

// What a launcher that Wine's menu builder wrote starts: `env
// WINEPREFIX="<prefix>" <wine> <shortcut>`, where <wine> is "wine",
// "wine64", "wine-stable", ... or a full path to one of them, and
// <shortcut> is either the shortcut's Windows path or "start.exe /Unix"
// and its path on this machine. Other variables may stand beside
// WINEPREFIX.
struct WineLaunch
{
    QByteArray prefix;   // WINEPREFIX as written
    QString windowsPath; // the shortcut's Windows path; empty for the /Unix form
    QByteArray unixPath; // the shortcut's path on this machine; empty for the Windows form

    // Nothing when the arguments start anything else, or no .lnk file.
    static std::optional<WineLaunch> fromArguments(const QStringList &arguments);
    // The same, from a desktop entry file's contents (its Exec key).
    static std::optional<WineLaunch> fromEntry(const DesktopEntry &entry);
};
