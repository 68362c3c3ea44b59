#include "review/ResultReview.h"

#include "shell/ShellLink.h"
#include "shell/ShellServices.h"
#include "winpath/WinPathText.h"

#include <QList>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <memory>

ResultReview::ResultReview(ReviewHost &host, ShellLinkFactory &links, ShellServices &shell)
    : m_host(host), m_links(links), m_shell(shell)
{}

void ResultReview::CheckListBox1onClick()
{
    showTarget(ResultList::CheckListBox1);
}

void ResultReview::ListBox1onclick()
{
    showTarget(ResultList::ListBox1);
}

void ResultReview::CheckListBox1DblClick()
{
    openFolderOf(ResultList::CheckListBox1);
}

void ResultReview::ListBox1DblClick()
{
    openFolderOf(ResultList::ListBox1);
}

void ResultReview::showTarget(ResultList list)
{
    // Create the link object and query its file interface, declared in this
    // order so the file interface is released first on every way out.
    std::unique_ptr<ShellLink> link;
    if (win::FAILED(m_links.CoCreateInstance(link)) || !link)
        return;
    std::unique_ptr<PersistFile> file;
    if (link->QueryPersistFile(file) != win::S_OK || !file)
        return;

    const int index = m_host.selectedIndex(list);
    if (index < 0 || index >= m_host.entryCount(list))
        return;

    // Load and get the path without resolving: the hint shows what the file holds now,
    // and a file that cannot be loaded any more shows an empty target.
    static_cast<void>(file->Load(m_host.entry(list, index), win::STGM_READ));
    char16_t target[win::MAX_PATH + 1] = {};
    win::WIN32_FIND_DATAW findData;
    static_cast<void>(link->GetPath(target, win::MAX_PATH, &findData, win::SLGP_UNCPRIORITY));
    const auto end = std::find(std::begin(target), std::end(target), u'\0');
    m_host.setToolTip(list, QStringLiteral("Points to ") +
                                QString::fromUtf16(target, std::distance(std::begin(target), end)));
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

void ResultReview::DeleteCheckedShortcuts()
{
    QStringList &paths = m_host.shortcutPaths();
    const int count = m_host.entryCount(ResultList::CheckListBox1);

    // The ticked entries in index order, their paths taken from ShortcutPaths.
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

    // An entry leaves ListBox1, CheckListBox1 and ShortcutPaths together when
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
        m_host.removeEntry(ResultList::CheckListBox1, i);
        if (i < m_host.entryCount(ResultList::ListBox1))
            m_host.removeEntry(ResultList::ListBox1, i);
        if (i < paths.size())
            paths.removeAt(i);
    }

    if (stillThere == 0)
        m_host.setLabel1Text(QStringLiteral("Broken Shortcuts Deleted"));
    else if (stillThere == 1)
        m_host.setLabel1Text(QStringLiteral("1 Broken Shortcut could not be deleted"));
    else
        m_host.setLabel1Text(QStringLiteral("%1 Broken Shortcuts could not be deleted").arg(stillThere));
    m_host.setBtdeleteEnabled(stillThere > 0);
}
