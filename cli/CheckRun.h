#pragma once

#include "cli/CheckReport.h"
#include "cli/Console.h"
#include "cli/RunDrives.h"
#include "scan/ScanEvents.h"

#include <QList>
#include <QRegularExpression>

#include <functional>
#include <memory>

class LinkJudge;

// The `check` and `repair` commands: the scan run over each folder named
// (or the check of each shortcut named), observed. It collects what the
// scan tells instead of filling lists, and shows progress while the scan
// ticks. Broken shortcuts and repairs are printed as they are found, and
// what could not be looked at is named on standard error, unless the
// report is to be one JSON document at the end; with `quiet` one summary
// line on standard error stands for all of that, and with `null` standard
// output holds the broken shortcuts' paths alone, each ended by a NUL.
class CheckRun : public ScanObserver
{
public:
    struct Options
    {
        bool dryRun = false; // write nothing
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

    // Standard output holds the broken shortcuts' paths alone, each ended
    // by a NUL; repairs are told on standard error.
    void setNullSeparated(bool on) { m_null = on; }
    // Folders to pass over: a pattern without a slash or backslash is
    // matched against a folder's name, one with them against its whole path
    // (Windows form, or this machine's when it begins with "/"); * and ?
    // are wildcards, letter case is ignored.
    void setExcludes(const QStringList &patterns);

    // Scans every root, one after the other (a shortcut file is checked
    // alone), and prints the report.
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
    bool excluded(const QString &folder, const QByteArray &posixFolder) const;
    void tell(const QString &message);
    CheckReport::Shortcut shortcutNamed(const QString &winPath) const;
    // Adds the launchers of the prefix whose shortcut in the roots is gone.
    void findOrphanLaunchers(const QList<RunDrives::Place> &roots);

    Options m_options;
    LinkJudge &m_links;
    std::shared_ptr<const DriveContext> m_drives;
    Console &m_console;
    std::function<bool()> m_stop;
    Progress m_progress;
    CheckReport m_report;
    qint64 m_shortcutsBefore = 0;               // of the roots walked before this one
    QList<QRegularExpression> m_names, m_paths; // --exclude patterns
    bool m_null = false;
};
