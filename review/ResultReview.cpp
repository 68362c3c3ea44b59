#include "review/ResultReview.h"

#include "shell/LinkJudge.h"
#include "shell/ShellServices.h"
#include "winpath/WinPathText.h"

#include <QList>
#include <QSet>

#include <algorithm>

ResultReview::ResultReview(ReviewHost &host, LinkJudge &links, ShellServices &shell)
    : m_host(host), m_links(links), m_shell(shell)
{}

void ResultReview::showTarget(ResultList list)
{
    const int index = m_host.selectedIndex(list);
    if (index < 0 || index >= m_host.entryCount(list))
        return;

    // What the file holds now, read afresh and never resolved, so the file is
    // never rewritten; a file that cannot be read any more shows an empty
    // target.
    const LinkVerdict verdict = m_links.read(m_host.entry(list, index));
    m_host.setToolTip(list, QStringLiteral("Points to ") + verdict.target);
}

void ResultReview::openFolderOf(ResultList list)
{
    const int index = m_host.selectedIndex(list);
    if (index < 0 || index >= m_host.entryCount(list))
        return;
    const QString folder = WinPathText::folderPart(m_host.entry(list, index));
    if (!folder.isEmpty())
        m_shell.openFolder(folder);
}

void ResultReview::deleteTicked()
{
    QStringList &paths = m_host.shortcutPaths();
    const int count = m_host.entryCount(ResultList::CheckList);

    // The ticked entries in index order, their paths taken from the shortcut paths.
    QList<bool> ticked(count, false);
    QStringList request;
    for (int i = 0; i < count; ++i) {
        ticked[i] = m_host.isTicked(i);
        if (ticked[i] && i < paths.size())
            request << paths[i];
    }

    QSet<QString> goneNow;
    if (!request.isEmpty()) {
        const TrashResult result = m_shell.deleteToTrash(request);
        if (!result.confirmed)
            return;
        for (const QString &path : result.moved)
            goneNow.insert(path);
        for (const QString &path : result.gone)
            goneNow.insert(path);
    }

    // An entry leaves both lists and the shortcut paths together when
    // it was not ticked or its file is gone; a ticked shortcut still on disk
    // stays so the user can try again. From the last entry up, so the indices
    // still to visit stay valid.
    int stillThere = 0;
    for (int i = count - 1; i >= 0; --i) {
        const bool leaves = !ticked[i] || (i < paths.size() && goneNow.contains(paths[i]));
        if (!leaves) {
            ++stillThere;
            continue;
        }
        m_host.removeEntry(ResultList::CheckList, i);
        if (i < m_host.entryCount(ResultList::PlainList))
            m_host.removeEntry(ResultList::PlainList, i);
        if (i < paths.size())
            paths.removeAt(i);
    }

    if (stillThere == 0)
        m_host.setCountLine(QStringLiteral("Broken Shortcuts Deleted"));
    else if (stillThere == 1)
        m_host.setCountLine(QStringLiteral("1 Broken Shortcut could not be deleted"));
    else
        m_host.setCountLine(QStringLiteral("%1 Broken Shortcuts could not be deleted").arg(stillThere));
    m_host.setDeleteEnabled(stillThere > 0);
}
