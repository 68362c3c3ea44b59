#pragma once

#include "app/ScanResults.h"
#include "app/ScanWindow.h"
#include "scan/ScanEvents.h"

#include <QString>
#include <QStringList>

class ShortcutScan;

// The Scan button as the main window shows it: turns the scan's events into
// the window's states and lists. Busy state (wait cursor, the busy
// indicator moved into view, "Scanning....", both buttons disabled), empty
// results, the walk, the count line with every entry ticked, and the
// clean-up (cursor, buttons, indicator, list extents) that also runs when an
// error ends the walk; the error then goes on to the caller. A broken
// shortcut goes into ListBox1, CheckListBox1, ShortcutPaths and BrokenCount,
// in that order; with "Ignore remote shortcuts" ticked when it is judged,
// only one whose target lies on its own drive. The line beside the count
// tells how many shortcuts were repaired and how many places could not be
// read, and names each of them.
class WindowScan : public ScanObserver
{
public:
    static constexpr int BusyIndicatorShownLeft = 199;
    static constexpr int BusyIndicatorHiddenLeft = 881;
    static constexpr int ListBoxExtentMargin = 200;
    static constexpr int CheckListExtentMargin = 2;
    static const QString ScanningText;   // "Scanning...."
    static const QString OneBrokenText;  // " Broken Shortcut   (double click to explore)"
    static const QString ManyBrokenText; // " Broken Shortcuts   (double click to explore)"

    // All three must outlive this object.
    WindowScan(ScanWindow &window, ScanResults &results, ShortcutScan &scan);

    // The Scan button: the scan of SelectedDrive's root. A scan that the
    // closing window stopped shows no count line and ticks nothing.
    void ScanShortcuts();
    // The same scan run over one folder (Windows form).
    void ScanShortcuts(const QString &root);
    // The walk alone, outside a scan run: its shortcuts recorded as a
    // scan's are.
    void ScanFolder(const QString &folder, const QString &pattern, bool recurse);
    // Judges one shortcut and records it when broken; targetPath receives
    // the target its verdict goes by (empty when it has none).
    void CheckShortcut(const QString &shortcutPath, QString &targetPath);

    bool isScanning() const { return m_scanning; }

    // ScanObserver.
    void passedOver(const PassedOver &entry) override;
    void shortcutJudged(const LinkVerdict &verdict) override;
    void tick() override;
    bool stopRequested() const override;

private:
    void runScan(const QString &root);
    void cleanUp();
    void record(const QString &shortcutPath);

    ScanWindow &m_window;
    ScanResults &m_results;
    ShortcutScan &m_scan;
    QStringList m_details;
    bool m_scanning = false;
};
