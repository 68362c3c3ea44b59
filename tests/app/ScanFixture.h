#pragma once

#include "FakeLinks.h"
#include "FakeScanHost.h"

#include "app/WindowScan.h"
#include "scan/ShortcutScan.h"
#include "support/TempDrives.h"

#include <QDir>

#include <gtest/gtest.h>

// A scan of temporary drives c: and d: with a recording window and a fake
// judge: files named *.lnk are laid out on disk, and what their links
// hold is told to the fake by path.
class ScanFixture : public ::testing::Test
{
protected:
    ScanFixture() { results.SelectedDrive = QStringLiteral("c"); }

    // Writes a shortcut file below c: whose link holds `target`; its
    // Windows-form path.
    QString shortcut(const QString &relative, const QString &target = QString(), FakeLink link = {})
    {
        drives.writeFile(relative, "L");
        link.target = target;
        const QString path = drives.win(relative);
        links.links.insert(path, link);
        return path;
    }

    // File descriptors this process holds open, after a first walk has let
    // the platform open what it keeps open for good (the mount table).
    int openDescriptors()
    {
        scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.none"), true);
        return int(QDir(QStringLiteral("/proc/self/fd")).count());
    }

    TempDrives drives{QStringLiteral("cd")};
    FakeScanHost host;
    FakeLinks links{host.log, drives.context()};
    ScanResults results;
    ShortcutScan walker{links, drives.context()};
    WindowScan scan{host, results, walker};
};
