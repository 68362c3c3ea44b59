#pragma once

#include "cli/CheckReport.h"
#include "cli/Console.h"
#include "cli/RunDrives.h"
#include "scan/ScanEvents.h"

#include <QList>

#include <functional>
#include <memory>

class LinkJudge;

// The `check` command: the scan run over each folder named, observed. It
// collects what the scan tells instead of filling lists, and shows progress
// while the scan ticks. Broken shortcuts and repairs are printed as they are
// found, and what could not be looked at is named on standard error (or
// summed up in one line with `quiet`), unless the report is to be one JSON
// document at the end.
class CheckRun : public ScanObserver
{
public:
    struct Options
    {
        bool dryRun = false;
        bool ignoreRemote = false;
        bool json = false;
        bool quiet = false;
    };

    // The judge must outlive the run. `stop` is asked between entries: true
    // ends the run early (Ctrl-C), with the report of what was done.
    CheckRun(const Options &options, LinkJudge &links, Console &console,
             std::shared_ptr<const DriveContext> drives, std::function<bool()> stop = {});
    CheckRun(const CheckRun &) = delete;
    CheckRun &operator=(const CheckRun &) = delete;

    // Scans every root, one after the other, and prints the report.
    const CheckReport &run(const QList<RunDrives::Place> &roots);

    // ScanObserver.
    void scanStarted(const QString &root) override;
    void folderEntered(const QString &folder) override;
    void scanFinished(const ScanCounts &counts, bool stopped) override;
    void passedOver(const PassedOver &entry) override;
    void shortcutJudged(const LinkVerdict &verdict) override;
    void tick() override;
    bool stopRequested() const override;

private:
    void print(const QByteArray &line);
    void tell(const QString &message);
    CheckReport::Shortcut shortcutNamed(const QString &winPath) const;

    Options m_options;
    LinkJudge &m_links;
    std::shared_ptr<const DriveContext> m_drives;
    Console &m_console;
    std::function<bool()> m_stop;
    Progress m_progress;
    CheckReport m_report;
    qint64 m_shortcutsBefore = 0; // of the roots walked before this one
};
