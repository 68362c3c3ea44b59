#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The main window's module state that the scan shares with the review and
// the drive choice. The window owns it and hands it to the scan by reference.
// ShortcutPaths, the items of ListBox1 and of CheckListBox1 hold the full
// path of every broken shortcut in the order found; entry i of each describes
// the same shortcut.
struct ScanResults
{
    // Shortcuts recorded by the current scan.
    qint32 BrokenCount = 0;
    // Decimal text of BrokenCount after the last completed scan.
    QString BrokenCountText;
    // The drive to scan: one lower-case letter, as the drive selector reports it.
    QString SelectedDrive;
    // Created empty by the first scan, emptied (the same list) by later
    // scans, released by FormClose. Null before the first scan and after close.
    std::unique_ptr<QStringList> ShortcutPaths;
};
