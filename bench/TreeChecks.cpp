#include "bench/TreeChecks.h"

#include <QFile>
#include <QJsonArray>
#include <QSet>

void TreeChecks::expect(bool condition, const QString &what)
{
    if (!condition && m_failures.size() < 50)
        m_failures.append(what);
}

void TreeChecks::restoreMoved()
{
    QString error;
    expect(TreeGenerator::restoreMoved(m_tree, m_manifest, &error), error);
}

void TreeChecks::checkBrokenAndRepairs(const QJsonObject &report, const QString &which,
                                       std::optional<bool> written)
{
    QSet<QString> broken, planted;
    for (const QJsonValue &entry : report.value(QStringLiteral("broken")).toArray())
        broken.insert(entry.toObject().value(QStringLiteral("windowsPath")).toString());
    for (const QByteArray &path : m_manifest.broken)
        planted.insert(TreeManifest::winPath(path));
    expect(broken == planted, QStringLiteral("%1: %2 broken shortcuts reported, %3 planted, not the same")
                                  .arg(which)
                                  .arg(broken.size())
                                  .arg(planted.size()));

    QSet<QString> repairs, moved;
    for (const QJsonValue &entry : report.value(QStringLiteral("repairs")).toArray()) {
        const QJsonObject repair = entry.toObject();
        if (written)
            expect(repair.value(QStringLiteral("written")).toBool() == *written,
                   QStringLiteral("%1: a repair was written, or not, against the run's kind").arg(which));
        repairs.insert((repair.value(QStringLiteral("windowsPath")).toString() + QLatin1Char('>') +
                        repair.value(QStringLiteral("newTarget")).toString())
                           .toLower());
    }
    for (const TreeManifest::Moved &entry : m_manifest.moved)
        moved.insert((TreeManifest::winPath(entry.shortcut) + QLatin1Char('>') +
                      TreeManifest::winPath(entry.newTarget))
                         .toLower());
    expect(repairs == moved, QStringLiteral("%1: %2 repairs reported, %3 moved, not the same")
                                 .arg(which)
                                 .arg(repairs.size())
                                 .arg(moved.size()));
}

void TreeChecks::checkMovedAsPlanted()
{
    for (const TreeManifest::Moved &entry : m_manifest.moved) {
        QFile shortcut(QFile::decodeName(TreeGenerator::driveFolder(m_tree) + '/' + entry.shortcut));
        QFile planted(QFile::decodeName(m_tree + '/' + entry.planted));
        const bool same = shortcut.open(QIODevice::ReadOnly) && planted.open(QIODevice::ReadOnly) &&
                          shortcut.readAll() == planted.readAll();
        expect(same, QStringLiteral("a look-only run wrote %1").arg(QString::fromUtf8(entry.shortcut)));
    }
}
