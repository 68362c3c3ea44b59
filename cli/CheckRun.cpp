#include "cli/CheckRun.h"

#include "scan/ShortcutScan.h"
#include "shell/ShellLink.h"

#include <QFile>

#include <cstring>

namespace {

QString failureText(const ShellLinkService::Repair &repair)
{
    using Outcome = ShellLinkService::Repair::Outcome;
    switch (repair.outcome) {
    case Outcome::NotAsked:
    case Outcome::Written:
        break;
    case Outcome::ReadOnly:
        return QStringLiteral("the file may not be written");
    case Outcome::Changed:
        return QStringLiteral("the file changed while it was being checked");
    case Outcome::Shared:
        return QStringLiteral("other names lead to the same file (or it lies off the drive), so it is left "
                              "as it is");
    case Outcome::Failed:
        return QString::fromLocal8Bit(std::strerror(repair.error));
    }
    return QString();
}

} // namespace

CheckRun::CheckRun(const Options &options, ShellLinkService &service, Console &console,
                   std::shared_ptr<const DriveContext> drives)
    : m_options(options), m_service(service), m_drives(std::move(drives)), m_console(console),
      m_progress(console)
{
    m_report.dryRun = options.dryRun;
    m_report.ignoreRemote = options.ignoreRemote;
    m_service.setRepairHook([this](const ShellLinkService::Repair &repair) { repairFound(repair); });
}

CheckReport::Shortcut CheckRun::shortcutNamed(const QString &winPath) const
{
    return CheckReport::Shortcut{posixPathOf(*m_drives, winPath), winPath};
}

CheckRun::~CheckRun()
{
    m_service.setRepairHook({});
}

const CheckReport &CheckRun::run(const QList<RunDrives::Place> &roots)
{
    ScanResults results;
    ShortcutScan scan(*this, results, m_service, m_drives);
    // Without the update flag the service finds moved targets all the same,
    // and writes nothing.
    scan.setResolveFlags(m_options.dryRun ? win::SLR_NO_UI : ShortcutScan::ResolveFlags);
    for (const RunDrives::Place &root : roots) {
        m_report.roots.append({QFile::decodeName(root.posix), root.win});
        scan.ScanShortcuts(root.win);
    }
    m_progress.clear();
    if (m_options.json)
        m_console.out(m_report.toJson());
    return m_report;
}

void CheckRun::dispatchPendingEvents()
{
    m_progress.update(m_report.folders, m_report.shortcuts);
}

void CheckRun::folderEntered(const QString &)
{
    ++m_report.folders;
}

void CheckRun::shortcutChecked(const QString &shortcutPath, Verdict verdict, const QString &targetPath)
{
    ++m_report.shortcuts;
    switch (verdict) {
    case Verdict::NoTarget:
    case Verdict::TargetExists:
        break;
    case Verdict::Broken: {
        const CheckReport::Broken broken{shortcutNamed(shortcutPath), targetPath};
        m_report.broken.append(broken);
        print(CheckReport::brokenLine(broken));
        break;
    }
    case Verdict::BrokenRemote:
        ++m_report.remote;
        break;
    case Verdict::NotLoaded:
    case Verdict::NotResolved:
    case Verdict::NoPath:
        m_report.unjudged.append({shortcutNamed(shortcutPath), unjudgedReason(verdict)});
        break;
    }
}

QString CheckRun::unjudgedReason(Verdict verdict)
{
    switch (verdict) {
    case Verdict::NotLoaded:
        return QStringLiteral("it cannot be read as a shortcut");
    case Verdict::NotResolved:
        return QStringLiteral(
            "its target cannot be looked at (a place that does not answer, a path too long, "
            "or a variable that cannot be expanded)");
    case Verdict::NoPath:
        return QStringLiteral("its target path is longer than 260 characters");
    case Verdict::NoTarget:
    case Verdict::TargetExists:
    case Verdict::Broken:
    case Verdict::BrokenRemote:
        break;
    }
    return QString();
}

void CheckRun::repairFound(const ShellLinkService::Repair &found)
{
    CheckReport::Repair repair{shortcutNamed(found.shortcutPath), found.oldTarget, found.newTarget,
                               found.outcome == ShellLinkService::Repair::Outcome::Written,
                               failureText(found)};
    m_report.repairs.append(repair);
    if (!repair.failure.isEmpty()) {
        m_progress.clear();
        m_console.message(QStringLiteral("could not repair %1 (%2 -> %3): %4")
                              .arg(repair.shortcut.path, repair.oldTarget, repair.newTarget, repair.failure));
    } else {
        print(m_report.repairLine(repair));
    }
}

void CheckRun::print(const QByteArray &line)
{
    if (m_options.json || line.isEmpty())
        return;
    m_progress.clear();
    m_console.out(line);
}
