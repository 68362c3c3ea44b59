#pragma once

#include "cli/CheckReport.h"
#include "cli/Console.h"
#include "cli/QuietScanHost.h"
#include "cli/RunDrives.h"
#include "shell/ShellLinkService.h"

#include <QList>

// The `check` command: the window's scan run over each folder named, with
// this object standing in for the window. It collects what the scan finds
// instead of filling lists, and shows progress where the window dispatches
// its events. Broken shortcuts and repairs are printed as they are found,
// unless the report is to be one JSON document at the end.
class CheckRun : public QuietScanHost
{
public:
    struct Options
    {
        bool dryRun = false;
        bool ignoreRemote = false;
        bool json = false;
    };

    // The service must outlive the run; its repair hook is taken for the
    // length of the run.
    CheckRun(const Options &options, ShellLinkService &service, Console &console,
             std::shared_ptr<const DriveContext> drives);
    ~CheckRun() override;
    CheckRun(const CheckRun &) = delete;
    CheckRun &operator=(const CheckRun &) = delete;

    // Scans every root, one after the other, and prints the report.
    const CheckReport &run(const QList<RunDrives::Place> &roots);

    // ScanHost.
    bool ignoreRemoteShortcuts() const override { return m_options.ignoreRemote; }
    void dispatchPendingEvents() override;
    void shortcutChecked(const QString &shortcutPath, Verdict verdict, const QString &targetPath) override;
    void folderEntered(const QString &folder) override;

    // Why the check could not judge a shortcut, as the report says it.
    static QString unjudgedReason(Verdict verdict);

private:
    void repairFound(const ShellLinkService::Repair &repair);
    void print(const QByteArray &line);
    CheckReport::Shortcut shortcutNamed(const QString &winPath) const;

    Options m_options;
    ShellLinkService &m_service;
    std::shared_ptr<const DriveContext> m_drives;
    Console &m_console;
    Progress m_progress;
    CheckReport m_report;
};
