#include "scan/ShortcutScan.h"

#include "platform/DriveContext.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"
#include "scan/TargetRules.h"
#include "shell/ShellLink.h"

#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

#include <array>
#include <functional>
#include <memory>
#include <optional>

const QString ShortcutScan::ScanningText = QStringLiteral("Scanning....");
const QString ShortcutScan::OneBrokenText = QStringLiteral(" Broken Shortcut   (double click to explore)");
const QString ShortcutScan::ManyBrokenText = QStringLiteral(" Broken Shortcuts   (double click to explore)");
const QString ShortcutScan::ShortcutPattern = QStringLiteral("*.lnk");

namespace {

const QString EveryName = QStringLiteral("*.*");
constexpr quint32 RuleBits =
    win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_DIRECTORY;

// The search rule: an entry is skipped when it has any of the rule's bits
// that the pass does not want.
bool wanted(quint32 attributes, quint32 wantedBits)
{
    const quint32 excluded = ~wantedBits & RuleBits;
    return (attributes & excluded) == 0;
}

QByteArray childPosix(const QByteArray &posixFolder, const QString &name)
{
    // Yielded names are valid UTF-8, so this gives back the name's own bytes.
    QByteArray path = posixFolder;
    if (!path.endsWith('/'))
        path += '/';
    return path + name.toUtf8();
}

// The text of a filled target buffer: up to its first zero character.
template <std::size_t N> QString textOf(const std::array<char16_t, N> &buffer)
{
    qsizetype length = 0;
    while (length < qsizetype(N) && buffer[std::size_t(length)] != 0)
        ++length;
    return QString::fromUtf16(buffer.data(), length);
}

// Brackets a scan's walk for the link service (see ShellLinkFactory): its
// progress hook dispatches the window's events while a Resolve searches for a
// moved target, so the window repaints during a long search, and the walk may
// take the folder listings the service has read (and keeps current) for its
// searches instead of reading those folders again. However the walk ends,
// the service is told it is over.
class ScanSession
{
public:
    ScanSession(ShellLinkFactory &links, std::function<void()> hook) : m_links(links)
    {
        m_links.beginScan(std::move(hook));
    }
    ~ScanSession() { m_links.endScan(); }
    ScanSession(const ScanSession &) = delete;
    ScanSession &operator=(const ScanSession &) = delete;

    FolderListingSource *listings() { return m_links.scanListings(); }

private:
    ShellLinkFactory &m_links;
};

} // namespace

ShortcutScan::ShortcutScan(ScanHost &host, ScanResults &results, ShellLinkFactory &links,
                           std::shared_ptr<const DriveContext> drives)
    : m_host(host), m_results(results), m_links(links), m_drives(std::move(drives))
{}

void ShortcutScan::ScanShortcuts()
{
    ScanShortcuts(m_results.SelectedDrive + QStringLiteral(":\\"));
}

void ShortcutScan::ScanShortcuts(const QString &root)
{
    // Both buttons are disabled while a scan runs, so no second one can start
    // from the events the walk dispatches; this holds even if one got through.
    if (m_scanning || m_host.closing())
        return;
    const QScopedValueRollback<bool> scanning(m_scanning, true);

    m_host.setWaitCursor(true);
    try {
        runScan(root);
    } catch (...) {
        // The window goes back to idle before the error reaches the general
        // error handler; the count line and the ticks are not set.
        cleanUp();
        throw;
    }
    cleanUp();
}

void ShortcutScan::runScan(const QString &root)
{
    m_host.setBusyIndicatorLeft(BusyIndicatorShownLeft);
    m_host.setLabel1Text(ScanningText);
    m_host.SetButtonEnabled(ScanHost::Button::Btdelete, false);
    m_host.SetButtonEnabled(ScanHost::Button::Btscan, false);
    m_host.clearListBox();
    m_host.clearCheckList();
    m_results.BrokenCount = 0;
    if (m_results.ShortcutPaths)
        m_results.ShortcutPaths->clear();
    else
        m_results.ShortcutPaths = std::make_unique<QStringList>();

    {
        ScanSession session(m_links, [this] { progress(); });
        const QScopedValueRollback<FolderListingSource *> listings(m_listings, session.listings());
        ScanFolder(root, ShortcutPattern, true);
    }
    if (stopping())
        return;

    m_results.BrokenCountText = QString::number(m_results.BrokenCount);
    m_host.setLabel1Text(m_results.BrokenCountText +
                         (m_results.BrokenCount == 1 ? OneBrokenText : ManyBrokenText));
    // Ticked in one go, without a repaint of the list for every entry.
    const int count = m_host.checkListCount();
    m_host.setCheckListUpdates(false);
    for (int i = 0; i < count; ++i)
        m_host.setCheckListTicked(i, true);
    m_host.setCheckListUpdates(true);
}

void ShortcutScan::cleanUp()
{
    m_host.setListBoxExtent(m_host.listBoxWidth() + ListBoxExtentMargin);
    m_host.setWaitCursor(false);
    m_host.SetButtonEnabled(ScanHost::Button::Btdelete, true);
    m_host.SetButtonEnabled(ScanHost::Button::Btscan, true);
    m_host.setBusyIndicatorLeft(BusyIndicatorHiddenLeft);
    int widest = 0;
    const int count = m_host.checkListCount();
    for (int i = 0; i < count; ++i) {
        const int width = m_host.checkListTextWidth(m_host.checkListItem(i));
        if (width > widest)
            widest = width;
    }
    m_host.setCheckListExtent(widest + CheckListExtentMargin);
}

void ShortcutScan::ScanFolder(const QString &folder, const QString &pattern, bool recurse)
{
    // The POSIX folder is worked out once here; every folder below is opened
    // relative to the one above it.
    const std::optional<QByteArray> posixFolder = WinPath::toPosix(folder, *m_drives);
    if (!posixFolder)
        return;
    // Each folder and each shortcut file is taken once per walk, wherever
    // the walk meets it again (through symbolic links or hard links).
    m_walked.clear();
    m_checked.clear();
    {
        FolderSearch search(
            *m_drives, *posixFolder, pattern, FolderSearch::Attributes::WithoutReadOnly,
            [this] { return waitForFolder(); }, m_listings);
        walk(folder, search, pattern, recurse);
    }
    m_walked.clear();
    m_checked.clear();
}

void ShortcutScan::walk(const QString &folder, FolderSearch &search, const QString &pattern, bool recurse)
{
    const QString dir = folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
    if (!search.isOpen())
        return;
    if (const std::optional<FileIdentity> identity = search.folderIdentity();
        identity && !m_walked.enter(*identity))
        return; // walked already: a symbolic link led back to it

    // File pass: every matching entry that is not a folder. It is over
    // before the folder pass begins.
    if (search.isOpen())
        m_host.folderEntered(dir);
    // A fresh record for every entry, so no field is left over from the last one.
    for (FindData entry; search.next(entry); entry = FindData{}) {
        if (!wanted(entry.attributes, FilePassWanted))
            continue;
        if (isRegularFile(entry, search) && firstSeen(entry, search)) {
            QString targetPath;
            CheckShortcut(dir + entry.name, targetPath);
        }
        if (!dispatch())
            return;
    }
    if (!recurse)
        return;

    // Folder pass: every entry that is neither hidden nor system; only
    // folders other than "." and ".." are walked, each completely before the
    // next entry is taken. The folder is searched again on the handle the
    // file pass opened, which saves opening every folder twice, and only
    // for what may be a folder: plain files are passed over unseen.
    if (!search.restart(EveryName, FolderSearch::Limit::ToFolders))
        return;
    FindData entry;
    while (search.next(entry)) {
        if (!wanted(entry.attributes, FolderPassWanted))
            continue;
        if ((entry.attributes & win::FILE_ATTRIBUTE_DIRECTORY) && entry.name != QLatin1String(".") &&
            entry.name != QLatin1String("..")) {
            FolderSearch below(search, pattern, FolderSearch::Attributes::WithoutReadOnly);
            walk(dir + entry.name, below, pattern, true);
            if (stopping())
                return;
        }
        if (!dispatch())
            return;
    }
}

bool ShortcutScan::isRegularFile(const FindData &entry, const FolderSearch &search) const
{
    switch (entry.kind) {
    case EntryType::File:
        return true;
    case EntryType::Folder:
    case EntryType::SymLink:
    case EntryType::Other:
        return false;
    case EntryType::Unknown:
        break;
    }
    // A FIFO, socket or device named x.lnk is never opened.
    return QFileInfo(QFile::decodeName(childPosix(search.posixFolder(), entry.name))).isFile();
}

bool ShortcutScan::firstSeen(const FindData &entry, const FolderSearch &search)
{
    // A file met again under another name (a hard link, or a symbolic link
    // to it) is checked, and listed, once.
    const std::optional<FileIdentity> identity = search.identityOf(entry);
    return !identity || m_checked.enter(*identity);
}

bool ShortcutScan::dispatch()
{
    if (stopping())
        return false;
    {
        const QScopedValueRollback<bool> dispatching(m_dispatching, true);
        m_host.dispatchPendingEvents();
    }
    return !stopping();
}

void ShortcutScan::progress()
{
    // Never nested in a dispatch of the walk, and nothing more once the
    // window is closing. The buttons are disabled, so no handler run from
    // here can start a check or a scan of its own.
    if (m_dispatching || stopping())
        return;
    const QScopedValueRollback<bool> dispatching(m_dispatching, true);
    m_host.dispatchPendingEvents();
}

bool ShortcutScan::waitForFolder()
{
    progress();
    return !stopping();
}

bool ShortcutScan::stopping() const
{
    return m_host.closing();
}

void ShortcutScan::CheckShortcut(const QString &shortcutPath, QString &targetPath)
{
    // Create the link object and query its file interface. The file
    // interface is declared after the link object, so it is released first
    // on every way out.
    std::unique_ptr<ShellLink> link;
    std::unique_ptr<PersistFile> file;
    if (win::FAILED(m_links.CoCreateInstance(link)) || !link || link->QueryPersistFile(file) != win::S_OK ||
        !file) {
        m_host.shortcutChecked(shortcutPath, ScanHost::Verdict::NotLoaded, QString());
        return;
    }

    std::array<char16_t, win::MAX_PATH + 1> buffer{};
    win::WIN32_FIND_DATAW findData;
    ScanHost::Verdict verdict = ScanHost::Verdict::NotLoaded;
    if (win::FAILED(file->Load(shortcutPath, win::STGM_READ))) {
        verdict = ScanHost::Verdict::NotLoaded;
    } else if (win::FAILED(link->Resolve(0, m_resolveFlags))) {
        verdict = ScanHost::Verdict::NotResolved;
    } else if (win::FAILED(link->GetPath(buffer.data(), win::MAX_PATH, &findData, win::SLGP_UNCPRIORITY))) {
        verdict = ScanHost::Verdict::NoPath;
    } else {
        const QString target = textOf(buffer);
        if (target.isEmpty()) {
            verdict = ScanHost::Verdict::NoTarget;
        } else if (TargetRules::targetExists(*m_drives, target)) {
            verdict = ScanHost::Verdict::TargetExists;
        } else if (!m_host.ignoreRemoteShortcuts() ||
                   TargetRules::drivePart(shortcutPath) ==
                       TargetRules::asciiLower(TargetRules::drivePart(target))) {
            // Broken. With "Ignore remote shortcuts" ticked, only targets on
            // the shortcut's own drive are kept.
            verdict = ScanHost::Verdict::Broken;
            record(shortcutPath);
        } else {
            verdict = ScanHost::Verdict::BrokenRemote;
        }
    }
    targetPath = textOf(buffer);
    m_host.shortcutChecked(shortcutPath, verdict, targetPath);
}

void ShortcutScan::record(const QString &shortcutPath)
{
    // Once the window is closing its lists may be gone: nothing more is
    // recorded, and the four stay equal in length.
    if (stopping() || !m_results.ShortcutPaths)
        return;
    m_host.appendToListBox(shortcutPath);
    m_host.appendToCheckList(shortcutPath);
    m_results.ShortcutPaths->append(shortcutPath);
    ++m_results.BrokenCount;
}
