#include "cli/CheckReport.h"

#include "cli/Console.h"
#include "scan/ScanEvents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

qint64 CheckReport::repaired() const
{
    return std::count_if(repairs.cbegin(), repairs.cend(), [this](const Repair &repair) {
        return repair.written || (dryRun && repair.failure.isEmpty());
    });
}

qint64 CheckReport::repairsFailed() const
{
    return std::count_if(repairs.cbegin(), repairs.cend(),
                         [](const Repair &repair) { return !repair.failure.isEmpty(); });
}

int CheckReport::exitStatus() const
{
    if (stopped)
        return ExitStopped;
    if (!broken.isEmpty() || !orphanLaunchers.isEmpty() || repairsFailed() > 0 || (dryRun && repaired() > 0))
        return ExitBroken;
    const bool failed =
        std::any_of(skipped.cbegin(), skipped.cend(), [](const Skipped &s) { return !s.byRule; });
    if (failed || !unjudged.isEmpty())
        return ExitIncomplete;
    return ExitClean;
}

QString CheckReport::summary() const
{
    ScanCounts counts;
    counts.repaired = repaired();
    counts.repairsFailed = repairsFailed();
    counts.unjudged = unjudged.size();
    for (const Skipped &entry : skipped)
        ++(entry.byRule ? counts.otherPrefixes : counts.passedOver);
    const QString done = summaryLine(counts, !dryRun);
    if (broken.isEmpty())
        return done;
    const QString found =
        QStringLiteral("%1 broken %2")
            .arg(broken.size())
            .arg(broken.size() == 1 ? QStringLiteral("shortcut") : QStringLiteral("shortcuts"));
    return done.isEmpty() ? found : found + QStringLiteral(", ") + done;
}

QString CheckReport::skippedMessage(const Skipped &skipped)
{
    return QStringLiteral("%1 %2: %3")
        .arg(skipped.byRule ? QStringLiteral("passed over") : QStringLiteral("skipped"), skipped.path,
             skipped.reason);
}

QString CheckReport::unjudgedMessage(const Unjudged &unjudged)
{
    return QStringLiteral("not judged %1: %2").arg(unjudged.shortcut.path, unjudged.reason);
}

QByteArray CheckReport::brokenLine(const Broken &broken)
{
    return printable(broken.shortcut.path) + '\t' + printable(broken.target) + '\n';
}

QByteArray CheckReport::orphanLine(const OrphanLauncher &orphan)
{
    return printable(orphan.path) + '\t' + printable(orphan.shortcut) + '\n';
}

QByteArray CheckReport::repairLine(const Repair &repair) const
{
    if (!repair.failure.isEmpty())
        return {};
    return (dryRun ? QByteArray("would repair ") : QByteArray("repaired ")) +
           printable(repair.shortcut.path) + ": " + printable(repair.oldTarget) + " -> " +
           printable(repair.newTarget) + '\n';
}

QByteArray CheckReport::toJson() const
{
    QJsonArray rootList;
    for (const Root &root : roots)
        rootList.append(
            QJsonObject{{QStringLiteral("path"), root.path}, {QStringLiteral("windowsPath"), root.winPath}});

    // Each entry names its shortcut in both forms, then what is said of it;
    // a path that is not UTF-8 also exactly (see insertExactBytes).
    const auto entry = [](const Shortcut &shortcut,
                          std::initializer_list<std::pair<QString, QJsonValue>> fields) {
        QJsonObject object{{QStringLiteral("path"), shortcut.path},
                           {QStringLiteral("windowsPath"), shortcut.winPath}};
        insertExactBytes(object, QStringLiteral("path"), shortcut.path, shortcut.bytes);
        for (const auto &[key, value] : fields)
            object.insert(key, value);
        return object;
    };
    QJsonArray brokenList;
    for (const Broken &found : broken)
        brokenList.append(entry(found.shortcut, {{QStringLiteral("target"), found.target}}));
    QJsonArray repairList;
    for (const Repair &repair : repairs) {
        QJsonObject object = entry(repair.shortcut, {{QStringLiteral("oldTarget"), repair.oldTarget},
                                                     {QStringLiteral("newTarget"), repair.newTarget},
                                                     {QStringLiteral("written"), repair.written}});
        if (!repair.failure.isEmpty())
            object.insert(QStringLiteral("failure"), repair.failure);
        repairList.append(object);
    }
    QJsonArray unjudgedList;
    for (const Unjudged &found : unjudged)
        unjudgedList.append(entry(found.shortcut, {{QStringLiteral("reason"), found.reason}}));
    QJsonArray skippedList;
    for (const Skipped &found : skipped) {
        QJsonObject object{{QStringLiteral("path"), found.path}, {QStringLiteral("reason"), found.reason}};
        if (!found.winPath.isEmpty())
            object.insert(QStringLiteral("windowsPath"), found.winPath);
        if (found.byRule)
            object.insert(QStringLiteral("byRule"), true);
        insertExactBytes(object, QStringLiteral("path"), found.path, found.bytes);
        skippedList.append(object);
    }

    QJsonArray orphanList;
    for (const OrphanLauncher &orphan : orphanLaunchers)
        orphanList.append(QJsonObject{{QStringLiteral("path"), orphan.path},
                                      {QStringLiteral("shortcut"), orphan.shortcut},
                                      {QStringLiteral("shortcutPath"), orphan.shortcutPath}});

    const QJsonObject counts{
        {QStringLiteral("folders"), folders},
        {QStringLiteral("shortcuts"), shortcuts},
        {QStringLiteral("repaired"), repaired()},
        {QStringLiteral("repairsFailed"), repairsFailed()},
        {QStringLiteral("broken"), qint64(broken.size())},
        {QStringLiteral("remote"), remote},
        {QStringLiteral("unjudged"), qint64(unjudged.size())},
        {QStringLiteral("skipped"),
         qint64(std::count_if(skipped.cbegin(), skipped.cend(), [](const Skipped &s) { return !s.byRule; }))},
        {QStringLiteral("skippedByRule"), skippedByRule},
        {QStringLiteral("orphanLaunchers"), qint64(orphanLaunchers.size())},
    };
    const QJsonObject document{
        {QStringLiteral("dryRun"), dryRun},       {QStringLiteral("ignoreRemote"), ignoreRemote},
        {QStringLiteral("roots"), rootList},      {QStringLiteral("broken"), brokenList},
        {QStringLiteral("repairs"), repairList},  {QStringLiteral("unjudged"), unjudgedList},
        {QStringLiteral("skipped"), skippedList}, {QStringLiteral("orphanLaunchers"), orphanList},
        {QStringLiteral("counts"), counts},       {QStringLiteral("complete"), !stopped},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
