#pragma once

#include "bench/TreeGenerator.h"

#include <QJsonObject>
#include <QStringList>

// What every benchmark checks of a run over a generated tree: the report
// names exactly the planted broken shortcuts and every moved one with its
// new place, and a run that only looks leaves the moved shortcuts as
// planted. Failures are collected (the first 50) and printed by the caller.
class TreeChecks
{
public:
    TreeChecks(const QByteArray &tree, const TreeManifest &manifest) : m_tree(tree), m_manifest(manifest) {}

    const QStringList &failures() const { return m_failures; }

protected:
    void expect(bool condition, const QString &what);
    // Puts back the moved shortcuts' planted bytes, so they are repaired again.
    void restoreMoved();
    // `which` names the run in failures; with `written`, every repair must
    // say it was written (or not) that way.
    void checkBrokenAndRepairs(const QJsonObject &report, const QString &which,
                               std::optional<bool> written = std::nullopt);
    void checkMovedAsPlanted();

    QByteArray m_tree;
    const TreeManifest &m_manifest;

private:
    QStringList m_failures;
};
