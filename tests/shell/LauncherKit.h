#pragma once

// Desktop entries, menu files and icons as Wine's menu builder writes them,
// in the user's folders that the launcher search looks at.

#include "shell/WineLaunchers.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

// A Windows path in an Exec line, escaped as Wine writes it: a backslash is
// "\\\\" in the file and a reserved character is "\\" and itself (the
// desktop entry's string escape of the Exec line's escape).
inline QByteArray wineEscaped(const QString &winPath)
{
    QByteArray escaped;
    for (const char c : winPath.toUtf8()) {
        if (c == '\\')
            escaped += "\\\\\\\\";
        else if (QByteArray(" \t\"'><~|&;$*?#()`").contains(c))
            escaped += QByteArray("\\\\") + c;
        else
            escaped += c;
    }
    return escaped;
}

// `env WINEPREFIX="prefix" wine-stable C:\\\\...\\\\x.lnk`, as Wine 8 writes it.
inline QByteArray windowsFormExec(const QByteArray &prefix, const QString &winPath,
                                  const QByteArray &program = "wine-stable")
{
    return "env WINEPREFIX=\"" + prefix + "\" " + program + ' ' + wineEscaped(winPath);
}

// `env WINEPREFIX="prefix" wine C:\\\\windows\\\\command\\\\start.exe /Unix "path"`,
// the path quoted.
inline QByteArray unixFormExec(const QByteArray &prefix, const QByteArray &posixPath,
                               const QByteArray &program = "wine")
{
    return "env WINEPREFIX=\"" + prefix + "\" " + program +
           " C:\\\\\\\\windows\\\\\\\\command\\\\\\\\start.exe /Unix \"" + posixPath + '"';
}

// Writes launchers, menu files and icons into the user's folders, as the
// environment of the test names them.
struct LauncherFiles
{
    WineLaunchers::Folders folders = WineLaunchers::Folders::ofUser();

    static void write(const QByteArray &path, const QByteArray &contents)
    {
        QDir().mkpath(QFileInfo(QFile::decodeName(path)).absolutePath());
        QFile file(QFile::decodeName(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.constData();
        file.write(contents);
    }
    static QByteArray entry(const QString &name, const QByteArray &exec, const QByteArray &icon)
    {
        QByteArray text = "[Desktop Entry]\nName=" + name.toUtf8() + "\nExec=" + exec +
                          "\nType=Application\nStartupNotify=true\n";
        if (!icon.isEmpty())
            text += "Icon=" + icon + '\n';
        return text + "StartupWMClass=" + name.toLower().toUtf8() + ".exe\n";
    }

    // A menu launcher, applications/wine/<relative>.desktop, and Wine's menu
    // file that shows it.
    QByteArray inMenu(const QString &relative, const QByteArray &exec, const QByteArray &icon = {})
    {
        const QByteArray file = folders.applications + "/wine/" + QFile::encodeName(relative) + ".desktop";
        write(file, entry(QFileInfo(relative).fileName(), exec, icon));
        const QByteArray id = "wine-" + QFile::encodeName(relative).replace('/', '-');
        write(menuFile(relative),
              "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
              "\"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
              "<Menu>\n  <Name>Applications</Name>\n  <Menu>\n    <Name>wine-wine</Name>\n"
              "    <Include>\n      <Filename>" +
                  id + ".desktop</Filename>\n    </Include>\n  </Menu>\n</Menu>\n");
        return file;
    }
    QByteArray menuFile(const QString &relative) const
    {
        return folders.menus + "/wine-" + QFile::encodeName(relative).replace('/', '-') + ".menu";
    }
    // A launcher on the desktop.
    QByteArray onDesktop(const QString &name, const QByteArray &exec, const QByteArray &icon = {})
    {
        const QByteArray file = folders.desktop + '/' + QFile::encodeName(name) + ".desktop";
        write(file, entry(name, exec, icon));
        return file;
    }
    // An icon in two sizes, as Wine extracts one.
    QList<QByteArray> icon(const QByteArray &name)
    {
        QList<QByteArray> files;
        for (const char *size : {"32x32", "48x48"}) {
            files << folders.icons + "/hicolor/" + size + "/apps/" + name + ".png";
            write(files.last(), "PNG " + name);
        }
        return files;
    }
};
