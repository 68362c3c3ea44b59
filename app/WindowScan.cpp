#include "app/WindowScan.h"

#include "scan/ShortcutScan.h"

#include <QScopedValueRollback>

const QString WindowScan::ScanningText = QStringLiteral("Scanning....");
const QString WindowScan::OneBrokenText = QStringLiteral(" Broken Shortcut   (double click to explore)");
const QString WindowScan::ManyBrokenText = QStringLiteral(" Broken Shortcuts   (double click to explore)");

WindowScan::WindowScan(ScanWindow &window, ScanResults &results, ShortcutScan &scan)
    : m_window(window), m_results(results), m_scan(scan)
{}

void WindowScan::ScanShortcuts()
{
    ScanShortcuts(m_results.SelectedDrive + QStringLiteral(":\\"));
}

void WindowScan::ScanShortcuts(const QString &root)
{
    // Both buttons are disabled while a scan runs, so no second one can start
    // from the events the walk dispatches; this holds even if one got through.
    if (m_scanning || m_scan.isScanning() || m_window.closing())
        return;
    const QScopedValueRollback<bool> scanning(m_scanning, true);

    m_window.setWaitCursor(true);
    try {
        runScan(root);
    } catch (...) {
        // The window goes back to idle before the error reaches the general
        // error handler; the count line and the ticks are not set.
        cleanUp();
        throw;
    }
    cleanUp();
}

void WindowScan::runScan(const QString &root)
{
    m_window.setBusyIndicatorLeft(BusyIndicatorShownLeft);
    m_window.setLabel1Text(ScanningText);
    m_window.setReportLine(QString(), {});
    m_window.SetButtonEnabled(ScanWindow::Button::Btdelete, false);
    m_window.SetButtonEnabled(ScanWindow::Button::Btscan, false);
    m_window.clearListBox();
    m_window.clearCheckList();
    m_results.BrokenCount = 0;
    if (m_results.ShortcutPaths)
        m_results.ShortcutPaths->clear();
    else
        m_results.ShortcutPaths = std::make_unique<QStringList>();
    m_details.clear();

    const std::optional<ScanCounts> counts = m_scan.run(root, *this);
    if (!counts || stopRequested())
        return;

    m_results.BrokenCountText = QString::number(m_results.BrokenCount);
    m_window.setLabel1Text(m_results.BrokenCountText +
                           (m_results.BrokenCount == 1 ? OneBrokenText : ManyBrokenText));
    m_window.setReportLine(summaryLine(*counts), m_details);
    // Ticked in one go, without a repaint of the list for every entry.
    const int count = m_window.checkListCount();
    m_window.setCheckListUpdates(false);
    for (int i = 0; i < count; ++i)
        m_window.setCheckListTicked(i, true);
    m_window.setCheckListUpdates(true);
}

void WindowScan::cleanUp()
{
    m_window.setListBoxExtent(m_window.listBoxWidth() + ListBoxExtentMargin);
    m_window.setWaitCursor(false);
    m_window.SetButtonEnabled(ScanWindow::Button::Btdelete, true);
    m_window.SetButtonEnabled(ScanWindow::Button::Btscan, true);
    m_window.setBusyIndicatorLeft(BusyIndicatorHiddenLeft);
    int widest = 0;
    const int count = m_window.checkListCount();
    for (int i = 0; i < count; ++i) {
        const int width = m_window.checkListTextWidth(m_window.checkListItem(i));
        if (width > widest)
            widest = width;
    }
    m_window.setCheckListExtent(widest + CheckListExtentMargin);
}

void WindowScan::ScanFolder(const QString &folder, const QString &pattern, bool recurse)
{
    m_scan.walkFolder(folder, pattern, recurse, *this);
}

void WindowScan::CheckShortcut(const QString &shortcutPath, QString &targetPath)
{
    const LinkVerdict verdict = m_scan.check(shortcutPath, *this);
    targetPath = verdict.passedOver() ? QString() : verdict.target;
}

void WindowScan::passedOver(const PassedOver &entry)
{
    if (!entry.byRule())
        m_details << QStringLiteral("Could not be read: %1 (%2)").arg(entry.path, entry.reasonText());
    else if (entry.reason == PassedOver::Reason::OtherPrefix)
        m_details << QStringLiteral("Passed over: %1 (%2)").arg(entry.path, entry.reasonText());
}

void WindowScan::shortcutJudged(const LinkVerdict &verdict)
{
    using Status = LinkVerdict::Status;
    switch (verdict.status) {
    case Status::Healthy:
        break;
    case Status::Repaired:
        m_details << QStringLiteral("Repaired: %1: %2 \u2192 %3")
                         .arg(verdict.shortcut, verdict.repair->oldTarget, verdict.repair->newTarget);
        break;
    case Status::Broken:
        // With "Ignore remote shortcuts" ticked, only targets on the
        // shortcut's own drive are kept.
        if (verdict.listed(m_window.ignoreRemoteShortcuts()))
            record(verdict.shortcut);
        break;
    case Status::RepairNotWritten:
        m_details << QStringLiteral("Not repaired: %1: %2 \u2192 %3 (%4)")
                         .arg(verdict.shortcut, verdict.repair->oldTarget, verdict.repair->newTarget,
                              verdict.reason);
        break;
    case Status::Unjudged:
    case Status::NotShortcut:
    case Status::Skipped:
        m_details << QStringLiteral("Could not be read: %1 (%2)").arg(verdict.shortcut, verdict.reason);
        break;
    }
}

void WindowScan::record(const QString &shortcutPath)
{
    // Once the window is closing its lists may be gone: nothing more is
    // recorded, and the four stay equal in length.
    if (stopRequested() || !m_results.ShortcutPaths)
        return;
    m_window.appendToListBox(shortcutPath);
    m_window.appendToCheckList(shortcutPath);
    m_results.ShortcutPaths->append(shortcutPath);
    ++m_results.BrokenCount;
}

void WindowScan::tick()
{
    m_window.dispatchPendingEvents();
}

bool WindowScan::stopRequested() const
{
    return m_window.closing();
}
