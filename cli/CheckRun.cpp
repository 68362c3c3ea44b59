#include "cli/CheckRun.h"

#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "scan/ShortcutScan.h"
#include "shell/LinkJudge.h"
#include "shell/WineLaunchers.h"
#include "winpath/WinPathText.h"

#include <QFile>

#include <algorithm>

CheckRun::CheckRun(const Options &options, LinkJudge &links, Console &console,
                   std::shared_ptr<const DriveContext> drives, std::function<bool()> stop)
    : m_options(options), m_links(links), m_drives(std::move(drives)), m_console(console),
      m_stop(std::move(stop)), m_progress(console)
{
    m_report.dryRun = options.dryRun;
    m_report.ignoreRemote = options.ignoreRemote;
}

void CheckRun::setExcludes(const QStringList &patterns)
{
    m_names.clear();
    m_paths.clear();
    for (const QString &pattern : patterns) {
        const bool path = pattern.contains(QLatin1Char('/')) || pattern.contains(QLatin1Char('\\'));
        QString glob = pattern;
        // A trailing separator names the folder all the same.
        while (glob.size() > 1 && (glob.endsWith(QLatin1Char('/')) || glob.endsWith(QLatin1Char('\\'))))
            glob.chop(1);
        // A Windows path's backslashes are no escapes here.
        if (!glob.startsWith(QLatin1Char('/')))
            glob.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(
                                                glob, QRegularExpression::UnanchoredWildcardConversion)
                                                .prepend(QLatin1Char('^'))
                                                .append(QLatin1Char('$')),
                                            QRegularExpression::CaseInsensitiveOption);
        (path ? m_paths : m_names).append(expression);
    }
}

bool CheckRun::excluded(const QString &folder, const QByteArray &posixFolder) const
{
    const QString name = folder.section(QLatin1Char('\\'), -1);
    for (const QRegularExpression &pattern : m_names) {
        if (pattern.match(name).hasMatch())
            return true;
    }
    if (m_paths.isEmpty())
        return false;
    QString windowsForm = folder;
    windowsForm.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString here = QFile::decodeName(posixFolder);
    for (const QRegularExpression &pattern : m_paths) {
        if (pattern.match(windowsForm).hasMatch() || pattern.match(here).hasMatch())
            return true;
    }
    return false;
}

CheckReport::Shortcut CheckRun::shortcutNamed(const QString &winPath) const
{
    const QByteArray bytes = WinPath::toPosix(winPath, *m_drives).value_or(winPath.toUtf8());
    return CheckReport::Shortcut{posix::shownPath(bytes), winPath, bytes};
}

const CheckReport &CheckRun::run(const QList<RunDrives::Place> &roots)
{
    ShortcutScan scan(m_links, m_drives);
    // Without writing, the judge finds moved targets all the same.
    scan.setWriteRepairs(!m_options.dryRun);
    if (!m_names.isEmpty() || !m_paths.isEmpty())
        scan.setExcluded([this](const QString &folder, const QByteArray &posixFolder) {
            return excluded(folder, posixFolder);
        });
    for (const RunDrives::Place &root : roots) {
        if (stopRequested())
            break;
        m_report.roots.append({QFile::decodeName(root.posix), root.win});
        if (root.isFile)
            scan.check(root.win, *this);
        else
            scan.run(root.win, *this, root.shown ? QByteArray() : root.posix);
    }
    m_report.stopped = stopRequested();
    if (!m_report.stopped)
        findOrphanLaunchers(roots);
    m_progress.clear();
    if (m_options.json) {
        m_console.out(m_report.toJson());
    } else {
        if (m_options.quiet) {
            if (const QString summary = m_report.summary(); !summary.isEmpty())
                m_console.message(summary);
        }
        if (m_report.stopped)
            m_console.message(QStringLiteral("stopped before the check was over"));
    }
    return m_report;
}

void CheckRun::findOrphanLaunchers(const QList<RunDrives::Place> &roots)
{
    // Of the launchers of this prefix, those whose shortcut would lie in a
    // place walked and is not there: by its Windows path (a profile folder
    // the prefix links elsewhere is walked as part of its drive) or by its
    // path here.
    const WineLaunchers launchers(*m_drives);
    QList<QByteArray> realRoots;
    for (const RunDrives::Place &root : roots)
        realRoots << posix::canonicalPath(root.posix);
    for (const WineLauncher &launcher : launchers.orphans()) {
        bool walked = false;
        for (qsizetype i = 0; i < roots.size() && !walked; ++i)
            walked = WinPathText::isWithin(roots.at(i).win, launcher.named) ||
                     posix::isWithin(realRoots.at(i), launcher.shortcut);
        if (!walked)
            continue;
        const CheckReport::OrphanLauncher orphan{posix::shownPath(launcher.file), launcher.named,
                                                 posix::shownPath(launcher.shortcut)};
        m_report.orphanLaunchers.append(orphan);
        print(m_null ? launcher.file + '\0' : CheckReport::orphanLine(orphan));
    }
}

void CheckRun::tick()
{
    m_progress.update(m_report.folders, m_report.shortcuts);
}

bool CheckRun::stopRequested() const
{
    return m_stop && m_stop();
}

void CheckRun::scanStarted(const QString &)
{
    m_shortcutsBefore = m_report.shortcuts;
}

void CheckRun::folderEntered(const QString &)
{
    ++m_report.folders;
}

void CheckRun::scanFinished(const ScanCounts &counts, bool)
{
    // Shortcuts judged without a verdict of their own reaching the report
    // (healthy ones whose names have no Windows form) count too.
    m_report.shortcuts = m_shortcutsBefore + counts.shortcuts;
}

void CheckRun::passedOver(const PassedOver &entry)
{
    if (entry.byRule())
        ++m_report.skippedByRule;
    // Hidden and system folders are only counted; another Wine prefix is
    // named, since its shortcuts were not looked at.
    if (entry.byRule() && entry.reason != PassedOver::Reason::OtherPrefix &&
        entry.reason != PassedOver::Reason::Excluded)
        return;
    const QByteArray bytes =
        entry.posixPath.isEmpty() ? posixPathOf(*m_drives, entry.path).toUtf8() : entry.posixPath;
    const CheckReport::Skipped skipped{posix::shownPath(bytes), bytes,
                                       entry.reason == PassedOver::Reason::NotRepresentable ? QString()
                                                                                            : entry.path,
                                       entry.reasonText(), entry.byRule()};
    m_report.skipped.append(skipped);
    tell(CheckReport::skippedMessage(skipped));
}

void CheckRun::shortcutJudged(const LinkVerdict &verdict)
{
    using Status = LinkVerdict::Status;
    ++m_report.shortcuts;
    switch (verdict.status) {
    case Status::Healthy:
        break;
    case Status::Broken:
        if (verdict.listed(m_options.ignoreRemote)) {
            const CheckReport::Broken broken{shortcutNamed(verdict.shortcut), verdict.target};
            m_report.broken.append(broken);
            print(m_null ? broken.shortcut.bytes + '\0' : CheckReport::brokenLine(broken));
        } else {
            ++m_report.remote;
        }
        break;
    case Status::Repaired:
    case Status::RepairNotWritten: {
        const LinkRepair &found = *verdict.repair;
        const CheckReport::Repair repair{shortcutNamed(verdict.shortcut), found.oldTarget, found.newTarget,
                                         found.written(), found.failureText()};
        m_report.repairs.append(repair);
        if (!repair.failure.isEmpty()) {
            m_progress.clear();
            m_console.message(
                (found.predicted ? QStringLiteral("would repair %1 (%2 -> %3), but cannot write: %4")
                                 : QStringLiteral("could not repair %1 (%2 -> %3): %4"))
                    .arg(repair.shortcut.path, repair.oldTarget, repair.newTarget, repair.failure));
        } else if (m_null) {
            // Standard output holds the broken shortcuts alone.
            const QByteArray line = m_report.repairLine(repair);
            tell(QString::fromUtf8(line.chopped(1)));
        } else {
            print(m_report.repairLine(repair));
        }
        break;
    }
    case Status::Unjudged: {
        const CheckReport::Unjudged unjudged{shortcutNamed(verdict.shortcut), verdict.reason};
        m_report.unjudged.append(unjudged);
        tell(CheckReport::unjudgedMessage(unjudged));
        break;
    }
    case Status::NotShortcut:
    case Status::Skipped: {
        const CheckReport::Shortcut named = shortcutNamed(verdict.shortcut);
        const CheckReport::Skipped skipped{named.path, named.bytes, named.winPath, verdict.reason, false};
        m_report.skipped.append(skipped);
        tell(CheckReport::skippedMessage(skipped));
        break;
    }
    }
}

void CheckRun::tell(const QString &message)
{
    if (m_options.json || m_options.quiet)
        return;
    m_progress.clear();
    m_console.message(message);
}

void CheckRun::print(const QByteArray &line)
{
    if (m_options.json || m_options.quiet || line.isEmpty())
        return;
    m_progress.clear();
    m_console.out(line);
}
