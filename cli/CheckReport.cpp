#include "cli/CheckReport.h"

#include "cli/Console.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QJsonObject shortcutObject(const CheckReport::Shortcut &shortcut)
{
    return QJsonObject{{QStringLiteral("path"), shortcut.path},
                       {QStringLiteral("windowsPath"), shortcut.winPath}};
}

} // namespace

qint64 CheckReport::repaired() const
{
    return std::count_if(repairs.cbegin(), repairs.cend(),
                         [this](const Repair &repair) { return repair.written || dryRun; });
}

qint64 CheckReport::repairsFailed() const
{
    return std::count_if(repairs.cbegin(), repairs.cend(),
                         [](const Repair &repair) { return !repair.failure.isEmpty(); });
}

int CheckReport::exitStatus() const
{
    return broken.isEmpty() && repairsFailed() == 0 ? 0 : 1;
}

QByteArray CheckReport::brokenLine(const Broken &broken)
{
    return printable(broken.shortcut.path) + '\t' + printable(broken.target) + '\n';
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

    QJsonArray brokenList;
    for (const Broken &entry : broken) {
        QJsonObject object = shortcutObject(entry.shortcut);
        object.insert(QStringLiteral("target"), entry.target);
        brokenList.append(object);
    }

    QJsonArray repairList;
    for (const Repair &repair : repairs) {
        QJsonObject object = shortcutObject(repair.shortcut);
        object.insert(QStringLiteral("oldTarget"), repair.oldTarget);
        object.insert(QStringLiteral("newTarget"), repair.newTarget);
        object.insert(QStringLiteral("written"), repair.written);
        if (!repair.failure.isEmpty())
            object.insert(QStringLiteral("failure"), repair.failure);
        repairList.append(object);
    }

    QJsonArray unjudgedList;
    for (const Unjudged &entry : unjudged) {
        QJsonObject object = shortcutObject(entry.shortcut);
        object.insert(QStringLiteral("reason"), entry.reason);
        unjudgedList.append(object);
    }

    const QJsonObject counts{
        {QStringLiteral("folders"), folders},
        {QStringLiteral("shortcuts"), shortcuts},
        {QStringLiteral("repaired"), repaired()},
        {QStringLiteral("repairsFailed"), repairsFailed()},
        {QStringLiteral("broken"), qint64(broken.size())},
        {QStringLiteral("remote"), remote},
        {QStringLiteral("unjudged"), qint64(unjudged.size())},
    };
    const QJsonObject document{
        {QStringLiteral("dryRun"), dryRun},      {QStringLiteral("ignoreRemote"), ignoreRemote},
        {QStringLiteral("roots"), rootList},     {QStringLiteral("broken"), brokenList},
        {QStringLiteral("repairs"), repairList}, {QStringLiteral("unjudged"), unjudgedList},
        {QStringLiteral("counts"), counts},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
