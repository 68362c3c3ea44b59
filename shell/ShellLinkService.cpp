#include "shell/ShellLinkService.h"

#include "lnk/LnkFile.h"
#include "platform/DriveContext.h"
#include "platform/FolderSearch.h"
#include "platform/PosixPath.h"
#include "platform/ProfileLinks.h"
#include "platform/SystemFolders.h"
#include "platform/WinPath.h"
#include "shell/ChangeJournal.h"
#include "shell/DirIndex.h"
#include "shell/FileFacts.h"
#include "shell/LinkWriter.h"
#include "shell/SearchBudget.h"
#include "shell/TargetLook.h"
#include "shell/TargetSearch.h"
#include "winpath/WinPathText.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// On a cold disk or a share, the workers reading folders ahead of a scan
// read each shortcut file of a folder and look at where its target is
// written to lie: the walk then finds both in memory. Nothing on a place
// that may not answer is looked at, and nothing is judged here.
FolderReadAhead::Warmer shortcutWarmer(const std::shared_ptr<const DriveContext> &drives)
{
    return [drives](int folder, const char *name) {
        constexpr qint64 kLargest = 64 * 1024;
        const QByteArrayView shown(name);
        if (shown.size() <= 4 || shown.last(4).compare(".lnk", Qt::CaseInsensitive) != 0)
            return;
        const posix::UniqueFd file(
            ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st;
        if (!file.isValid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargest)
            return;
        const std::optional<QByteArray> bytes = posix::readUpTo(file.get(), kLargest, st.st_size);
        if (!bytes)
            return;
        const auto parsed = LnkFile::parse(*bytes);
        const LnkFile *link = std::get_if<LnkFile>(&parsed);
        const std::optional<QString> target = link ? link->targetPath(false) : std::nullopt;
        if (!target)
            return;
        const std::shared_ptr<const SystemFolders> view = drives->systemFolders();
        const std::optional<QByteArray> posix =
            WinPath::toPosixAsWritten(*target, *view->map(), *view->mounts());
        struct stat targetSt;
        if (posix && !view->mayHangAt(*posix))
            ::fstatat(AT_FDCWD, posix->constData(), &targetSt, AT_NO_AUTOMOUNT);
    };
}

constexpr quint32 SLR_NOUPDATE = 0x8;
constexpr quint32 ERROR_INSUFFICIENT_BUFFER = 122;
constexpr quint32 ERROR_FILE_TOO_LARGE = 223;
// How long GetPath waits for the facts of a target whose place may not answer.
constexpr qint64 kFindDataLimitMs = 500;

win::HRESULT hresultFromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return win::hresultFromWin32(win::ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
    case ENAMETOOLONG:
        return win::hresultFromWin32(win::ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
        return win::hresultFromWin32(win::ERROR_ACCESS_DENIED);
    default:
        return win::E_FAIL;
    }
}

LinkRepair::Outcome repairOutcome(LinkWriter::Outcome written)
{
    switch (written) {
    case LinkWriter::Outcome::Written:
        return LinkRepair::Outcome::Written;
    case LinkWriter::Outcome::ReadOnly:
        return LinkRepair::Outcome::ReadOnly;
    case LinkWriter::Outcome::Changed:
        return LinkRepair::Outcome::Changed;
    case LinkWriter::Outcome::Shared:
        return LinkRepair::Outcome::Shared;
    case LinkWriter::Outcome::NotJournalled:
        return LinkRepair::Outcome::NotJournalled;
    case LinkWriter::Outcome::Failed:
        break;
    }
    return LinkRepair::Outcome::Failed;
}

} // namespace

struct ShellLinkService::Context
{
    // The index's listings, shared with the folder searches of the thread
    // that asked for them (the walk of a scan); not while a search for a
    // target is changing them.
    struct Listings : FolderListingSource
    {
        explicit Listings(Context &c) : context(c) {}
        quint32 startFolder(const QByteArray &posixFolder, const FileIdentity &identity) override
        {
            return context.searching ? 0 : context.index.startFolder(posixFolder, identity);
        }
        bool listing(quint32 folder, FolderListing &out) override
        {
            return !context.searching && context.index.listing(folder, out);
        }
        void beginListing(quint32 folder, const FolderStamp &stamp) override
        {
            if (!context.searching)
                context.index.beginListing(folder, stamp);
        }
        void addEntries(quint32 folder, const FolderListing &listing, size_t from) override
        {
            if (!context.searching)
                context.index.addEntries(folder, listing, from);
        }
        bool endListing(quint32 folder, FolderListing &listing) override
        {
            return !context.searching && context.index.endListing(folder, listing);
        }
        void dropListing(quint32 folder) override
        {
            if (!context.searching)
                context.index.dropListing(folder);
        }
        Context &context;
    };

    explicit Context(std::shared_ptr<const DriveContext> d)
        : drives(std::move(d)), index(drives), look(drives)
    {
        // A walk that waits for a folder a worker reads keeps the window
        // alive, and stops waiting when the scan stops.
        index.setWaitHook([this] {
            if (hook)
                hook();
            return !(stop && stop());
        });
        index.setFileWarmer(shortcutWarmer(drives));
        // Every repair is journalled; callers that know what the run is
        // give it a journal of its own.
        writer.setJournal(std::make_shared<ChangeJournal>(QStringLiteral("repair")));
    }

    std::shared_ptr<const DriveContext> drives;
    DirIndex index;
    LinkWriter writer;
    TargetLook look;
    std::function<void()> hook;
    std::function<bool()> stop;
    int hookIntervalMs = SearchBudget::kHookIntervalMs;
    bool searching = false;
    Listings listings{*this};
    bool sharing = false;
    // The drive's profile links, kept like the listings while a scan runs.
    ProfileLinksCache profileLinks;
};

namespace {

// The state one link object's two interfaces share.
struct LinkState
{
    explicit LinkState(std::shared_ptr<ShellLinkService::Context> c) : context(std::move(c)) {}

    std::shared_ptr<ShellLinkService::Context> context;
    std::optional<LnkFile> link;
    QByteArray bytes; // the file's contents as loaded (or as last written)
    FileStamp stamp;  // what the file on disk looked like when they were read
    QString winPath;
    QByteArray posixPath;
    // Why the last Load failed: the file is no shortcut (damaged, not a
    // regular file, too large), or it could not be read at all.
    bool loadedNoShortcut = false;
    QString loadFailure;
    // What Resolve saw at each place it looked, for GetPath right after it:
    // the same place is not looked at twice for one link.
    struct Seen
    {
        QString winPath;
        FactsStatus status;
        FileFacts facts;
    };
    std::vector<Seen> seen;

    const Seen *seenAt(const QString &place) const
    {
        for (const Seen &look : seen) {
            if (look.winPath == place)
                return &look;
        }
        return nullptr;
    }

    // The forms of the target as the link holds them now, worked out once
    // for Resolve and GetPath; forgotten when the link is loaded or changed.
    std::optional<std::vector<LnkTargetForm>> forms[2];
    const std::vector<LnkTargetForm> &formsOf(bool uncPriority)
    {
        std::optional<std::vector<LnkTargetForm>> &known = forms[uncPriority ? 1 : 0];
        if (!known)
            known = link->targetForms(uncPriority, winPath);
        return *known;
    }
    void linkChanged()
    {
        forms[0].reset();
        forms[1].reset();
    }
};

class ServicePersistFile : public PersistFile
{
public:
    explicit ServicePersistFile(std::shared_ptr<LinkState> state) : m_state(std::move(state)) {}

    win::HRESULT Load(const QString &path, quint32 mode) override
    {
        Q_UNUSED(mode); // loading never writes, whatever the mode
        return loadFile(path);
    }

    // Load, or with `posixPath` the file there, whose name has no Windows
    // form: `path` then stands for it where a Windows path is needed.
    win::HRESULT loadFile(const QString &path, std::optional<QByteArray> posixPath = {})
    {
        LinkState &s = *m_state;
        s.loadedNoShortcut = false;
        s.loadFailure.clear();
        const win::HRESULT result = load(s, path, std::move(posixPath));
        if (win::FAILED(result) && s.loadFailure.isEmpty())
            s.loadFailure = QStringLiteral("cannot be read");
        return result;
    }

private:
    // The file's bytes parsed as a link (at `given`, or where `path` leads).
    // A failure says why in the state.
    static win::HRESULT load(LinkState &s, const QString &path, std::optional<QByteArray> given = {})
    {
        s.link.reset();
        s.linkChanged();
        s.bytes.clear();
        s.stamp = FileStamp{};
        s.winPath.clear();
        s.posixPath.clear();
        s.seen.clear();

        // Only regular files are opened: a FIFO or a device named *.lnk is
        // refused before anything could block on it or be set off by it. A
        // path that exists as written (as every path the walk hands over
        // does) is looked at once.
        const DriveContext &drives = *s.context->drives;
        std::optional<QByteArray> posix = given ? given : WinPath::toPosixAsWritten(path, drives);
        struct stat st;
        if (given && ::stat(posix->constData(), &st) != 0)
            return failed(s, errno);
        if (!given && (!posix || ::stat(posix->constData(), &st) != 0)) {
            const int writtenError = posix ? errno : ENOENT;
            const std::optional<QByteArray> written = posix;
            posix = WinPath::toPosix(path, drives);
            if (!posix)
                return failed(s, ENOENT);
            if (written && *posix == *written)
                return failed(s, writtenError); // looked at already
            if (::stat(posix->constData(), &st) != 0)
                return failed(s, errno);
        }
        if (!S_ISREG(st.st_mode))
            return noShortcut(s, QStringLiteral("not a regular file"), win::ERROR_ACCESS_DENIED);
        if (st.st_size > ShellLinkService::kMaxLinkFileSize)
            return noShortcut(s, tooLarge(st.st_size), ERROR_FILE_TOO_LARGE);

        posix::UniqueFd fd(::open(posix->constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (fd.get() < 0)
            return failed(s, errno);
        struct stat fst;
        if (::fstat(fd.get(), &fst) != 0)
            return failed(s, errno);
        if (!S_ISREG(fst.st_mode) || fst.st_dev != st.st_dev || fst.st_ino != st.st_ino)
            return failed(s, EAGAIN); // swapped since the check
        if (fst.st_size > ShellLinkService::kMaxLinkFileSize)
            return noShortcut(s, tooLarge(fst.st_size), ERROR_FILE_TOO_LARGE);

        // The stamp is taken before reading: a change while we read shows
        // as a different stamp when a repaired link is about to be written.
        const FileStamp stamp = FileStamp::of(fst);
        int readError = 0;
        const std::optional<QByteArray> read =
            posix::readUpTo(fd.get(), ShellLinkService::kMaxLinkFileSize, fst.st_size, &readError);
        if (!read)
            return failed(s, readError);
        const QByteArray &bytes = *read;
        if (bytes.size() > ShellLinkService::kMaxLinkFileSize)
            return noShortcut(s, tooLarge(bytes.size()), ERROR_FILE_TOO_LARGE);

        auto parsed = LnkFile::parse(bytes);
        if (const LnkError *error = std::get_if<LnkError>(&parsed)) {
            noShortcut(s, QStringLiteral("%1 at byte %2").arg(error->what).arg(error->offset), 0);
            return win::E_FAIL;
        }
        s.link = std::move(std::get<LnkFile>(parsed));
        s.linkChanged();
        s.bytes = bytes;
        s.stamp = stamp;
        s.winPath = path;
        s.posixPath = *posix;
        return win::S_OK;
    }

    static win::HRESULT failed(LinkState &s, int error)
    {
        s.loadFailure =
            error == EAGAIN
                ? QStringLiteral("changed while it was being opened")
                : QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
        return hresultFromErrno(error);
    }
    static win::HRESULT noShortcut(LinkState &s, const QString &why, quint32 win32Error)
    {
        s.loadedNoShortcut = true;
        s.loadFailure = QStringLiteral("not a shortcut (%1)").arg(why);
        return win32Error ? win::hresultFromWin32(win32Error) : win::E_FAIL;
    }
    static QString tooLarge(qint64 size)
    {
        return QStringLiteral("%1 bytes, more than any shortcut holds").arg(size);
    }

    std::shared_ptr<LinkState> m_state;
};

class ServiceShellLink : public ShellLink
{
public:
    explicit ServiceShellLink(std::shared_ptr<ShellLinkService::Context> context)
        : m_state(std::make_shared<LinkState>(std::move(context)))
    {}

    win::HRESULT QueryPersistFile(std::unique_ptr<PersistFile> &out) override
    {
        out = std::make_unique<ServicePersistFile>(m_state);
        return win::S_OK;
    }

    win::HRESULT Resolve(quintptr hwnd, quint32 flags) override;
    win::HRESULT GetPath(char16_t *buffer, int cch, win::WIN32_FIND_DATAW *findData, quint32 flags) override;

    // Resolve, recording every look and the repair in `verdict`, and the
    // reason when the link cannot be judged.
    // With everyForm, every form is looked at even after one exists.
    win::HRESULT resolve(quint32 flags, LinkVerdict &verdict, bool everyForm = false);
    const LinkState &state() const { return *m_state; }
    std::shared_ptr<LinkState> sharedState() const { return m_state; }

private:
    std::shared_ptr<LinkState> m_state;
};

// Whether a look found something at a target form: a place we may not look
// at counts as there, as it does for Resolve.
bool isThere(FactsStatus status)
{
    return status == FactsStatus::Found || status == FactsStatus::Unreadable;
}

win::HRESULT ServiceShellLink::GetPath(char16_t *buffer, int cch, win::WIN32_FIND_DATAW *findData,
                                       quint32 flags)
{
    if (findData)
        *findData = win::WIN32_FIND_DATAW{};
    if (!buffer || cch <= 0)
        return win::E_INVALIDARG;
    buffer[0] = 0;
    const LinkState &s = *m_state;
    if (!s.link)
        return win::S_FALSE; // an empty link has no path

    // The first form of the target that exists; when none does, the first
    // one present. Places that may not answer get a short look at most: the
    // path is what the caller asked for, not a verdict.
    const bool uncPriority = flags & win::SLGP_UNCPRIORITY;
    SearchBudget budget(kFindDataLimitMs);
    std::optional<QString> target;
    std::optional<FileFacts> targetFacts;
    for (const LnkTargetForm &form : m_state->formsOf(uncPriority)) {
        if (!form.formed || !form.sameTarget)
            continue;
        for (const QString &reading : form.readings()) {
            FileFacts facts;
            std::optional<FactsStatus> status;
            if (const LinkState::Seen *seen = s.seenAt(reading)) {
                status = seen->status;
                facts = seen->facts;
            } else {
                status = s.context->look.look(reading, facts, budget);
            }
            if (status && isThere(*status)) {
                target = reading;
                if (*status == FactsStatus::Found)
                    targetFacts = facts;
                break;
            }
        }
        if (target)
            break;
    }
    if (!target) {
        target = s.link->targetPath(uncPriority, s.winPath);
        if (!target)
            return win::E_FAIL; // a target that cannot be formed definitely
        if (target->isEmpty())
            return win::S_FALSE;
    }

    // At most cch - 1 characters and the terminating zero, never half a
    // surrogate pair. A path that does not fit is a failure: the caller
    // could only take what fits for another path.
    qsizetype length = std::min<qsizetype>(target->size(), cch - 1);
    if (length > 0 && length < target->size() && target->at(length - 1).isHighSurrogate())
        --length;
    std::copy_n(reinterpret_cast<const char16_t *>(target->utf16()), length, buffer);
    buffer[length] = 0;
    if (length < target->size())
        return win::hresultFromWin32(ERROR_INSUFFICIENT_BUFFER);

    if (findData) {
        const QString name = target->mid(target->lastIndexOf(QLatin1Char('\\')) + 1);
        const qsizetype nameLength = std::min<qsizetype>(name.size(), win::MAX_PATH - 1);
        std::copy_n(reinterpret_cast<const char16_t *>(name.utf16()), nameLength, findData->cFileName);
        if (targetFacts) {
            findData->dwFileAttributes = targetFacts->attributes;
            findData->ftCreationTime = targetFacts->creationTime;
            findData->ftLastAccessTime = targetFacts->accessTime;
            findData->ftLastWriteTime = targetFacts->writeTime;
            findData->nFileSize = targetFacts->size;
        }
    }
    return win::S_OK;
}

win::HRESULT ServiceShellLink::Resolve(quintptr hwnd, quint32 flags)
{
    Q_UNUSED(hwnd); // no dialog is ever shown
    LinkVerdict verdict;
    return resolve(flags, verdict);
}

// What a look saw, in the verdict's words.
FormLook::Seen seenOf(const std::optional<FactsStatus> &status, const FileFacts &facts)
{
    if (!status)
        return FormLook::Seen::NoAnswer;
    switch (*status) {
    case FactsStatus::Found:
        return facts.isDirectory ? FormLook::Seen::Folder : FormLook::Seen::File;
    case FactsStatus::Missing:
        return FormLook::Seen::Missing;
    case FactsStatus::Unreadable:
        return FormLook::Seen::Unreadable;
    case FactsStatus::TooLong:
        break;
    }
    return FormLook::Seen::TooLong;
}

// A form as the link stores it, when that differs from the place it names
// (a variable expanded, a relative path taken from the shortcut's folder).
QString storedForm(const LnkFile &link, const LnkTargetForm &form)
{
    std::optional<QString> stored;
    if (form.source == LnkFormSource::Environment)
        stored = link.environmentTarget();
    else if (form.source == LnkFormSource::Relative)
        stored = link.relativePath();
    return stored && *stored != form.path ? *stored : QString();
}

win::HRESULT ServiceShellLink::resolve(quint32 flags, LinkVerdict &verdict, bool everyForm)
{
    LinkState &s = *m_state;
    if (!s.link)
        return win::S_OK; // nothing to resolve
    s.seen.clear();

    ShellLinkService::Context &context = *s.context;
    quint32 limitMs = (flags & win::SLR_NO_UI) ? flags >> 16 : 0;
    if (limitMs == 0)
        limitMs = ShellLinkService::kDefaultTimeLimitMs;
    // One time limit for looking at the target and searching for it. While
    // either waits, the progress hook keeps the caller's window alive; the
    // hook must not come back here to wait or search again.
    std::optional<SearchBudget> budget;
    struct Done
    {
        bool *flag = nullptr;
        ~Done()
        {
            if (flag)
                *flag = false;
        }
    } done;
    const auto startWaiting = [&] {
        if (done.flag)
            return true;
        if (context.searching)
            return false; // called from the progress hook
        context.searching = true;
        done.flag = &context.searching;
        budget.emplace(limitMs, context.hook, context.hookIntervalMs, context.stop);
        return true;
    };

    // Is it there, in any of its forms? Every reading of every form is
    // looked at until one exists. A place that cannot be looked at (access
    // denied, no answer in time, a path too long) decides nothing: unless
    // another form exists, the link cannot be judged, and it is never
    // searched for, let alone replaced.
    bool formed = false;
    bool unformed = false;
    bool undecided = false;
    for (const LnkTargetForm &form : s.formsOf(true)) {
        FormLook look;
        look.source = form.source;
        look.stored = storedForm(*s.link, form);
        if (!form.formed) {
            unformed = true;
            look.reading = form.path;
            look.seen = FormLook::Seen::NotFormed;
            verdict.looks << look;
            continue;
        }
        if (!form.sameTarget) {
            look.reading = form.path;
            look.seen = FormLook::Seen::OtherEntry;
            verdict.looks << look;
            continue;
        }
        formed = true;
        const QStringList readings = form.readings();
        for (qsizetype i = 0; i < readings.size(); ++i) {
            const QString &reading = readings.at(i);
            look.reading = reading;
            look.otherCodePage = i > 0;
            if (const LinkState::Seen *seen = s.seenAt(reading)) {
                // The same place under another form: told as it was seen.
                look.seen = seenOf(seen->status, seen->facts);
                verdict.looks << look;
                continue;
            }
            FileFacts facts;
            std::optional<FactsStatus> status;
            if (context.look.maySlow(reading)) {
                if (!startWaiting()) {
                    verdict.reason = QStringLiteral("the link service was busy with another shortcut");
                    return win::E_UNEXPECTED;
                }
                status = context.look.look(reading, facts, *budget);
            } else {
                status = TargetLook::lookDirectly(*context.drives, reading, facts);
            }
            look.seen = seenOf(status, facts);
            verdict.looks << look;
            if (status && *status != FactsStatus::TooLong)
                s.seen.push_back({reading, *status, facts});
            if (look.exists()) {
                if (verdict.decidingLook < 0)
                    verdict.decidingLook = int(verdict.looks.size() - 1);
                if (!everyForm)
                    return win::S_OK;
            }
            undecided = undecided || look.undecided();
        }
    }
    if (verdict.decidingLook >= 0)
        return win::S_OK;
    if (!formed) {
        if (unformed) {
            verdict.reason = QStringLiteral("its target holds a variable that cannot be expanded");
            return win::E_FAIL; // nothing definite
        }
        return win::S_OK; // no file-system target
    }
    if (undecided) {
        for (const FormLook &look : std::as_const(verdict.looks)) {
            if (look.seen == FormLook::Seen::NoAnswer) {
                verdict.reason = QStringLiteral("the place of %1 does not answer").arg(look.reading);
                break;
            }
            if (look.seen == FormLook::Seen::TooLong) {
                verdict.reason = QStringLiteral("%1 is too long to look at").arg(look.reading);
                break;
            }
            if (look.seen == FormLook::Seen::Unreadable) {
                verdict.reason = QStringLiteral("%1 cannot be looked at (access denied or an I/O error)")
                                     .arg(look.reading);
                break;
            }
        }
        return win::E_FAIL;
    }
    if (flags & win::SLR_NOSEARCH)
        return win::S_FALSE;

    // The search starts from the form Windows would show, the local one
    // first. A root (a drive, a share) never moves: it is not searched for.
    const std::optional<QString> start = s.link->targetPath(false, s.winPath);
    if (!start || start->isEmpty() || WinPathText::isRoot(*start))
        return win::S_FALSE;
    if (!startWaiting()) {
        verdict.reason = QStringLiteral("the link service was busy with another shortcut");
        return win::E_UNEXPECTED;
    }

    TargetSearchRequest request;
    request.oldTarget = *start;
    request.attributes = s.link->fileAttributes();
    request.size = s.link->fileSize();
    request.creationTime = s.link->creationTime();
    request.writeTime = s.link->writeTime();
    // A header without times (a shortcut made by a script, say) leaves them
    // to what the shell's IDList recorded of the target.
    if (const std::optional<LnkFile::ItemFacts> item = s.link->targetItemFacts()) {
        if (request.creationTime == 0)
            request.creationTime = item->creationTime;
        if (request.writeTime == 0)
            request.writeTime = item->writeTime;
    }
    FileFacts shortcut;
    if (readFacts(s.posixPath, shortcut) == FactsStatus::Found)
        request.shortcut = shortcut;

    const std::optional<FoundTarget> found =
        TargetSearch(context.index, *budget, *context.drives, context.profileLinks).find(request);
    // The listings are kept from one search to the next only while a scan
    // shares them (and keeps them current as it walks); a search outside a
    // scan cannot know what changed since the last one.
    if (!context.sharing) {
        context.index.clear();
        context.profileLinks.forget();
    }
    if (!found && budget->stopped()) {
        verdict.reason = QStringLiteral("the scan was stopped before the search for its target ended");
        return win::E_ABORT;
    }
    if (!found)
        return win::S_FALSE;

    LnkTargetInfo info;
    info.winPath = found->winPath;
    info.attributes = found->facts.attributes;
    info.size = found->facts.size;
    info.creationTime = found->facts.creationTime;
    info.accessTime = found->facts.accessTime;
    info.writeTime = found->facts.writeTime;
    // Still on the drive the link recorded: keep what it says of the volume.
    if (const std::optional<LnkVolume> volume = s.link->volume();
        volume && request.oldTarget.at(0).toLower() == found->winPath.at(0).toLower()) {
        info.driveType = volume->driveType;
        info.driveSerial = volume->serial;
        info.volumeLabel = volume->label;
    }
    // The relative path is taken from where the shortcut file really lies
    // (a symbolic link to it may stand elsewhere).
    const std::shared_ptr<const DriveMap> map = context.drives->map();
    QString shortcutWinPath = s.winPath;
    if (const std::optional<QByteArray> real = posix::realPath(s.posixPath))
        shortcutWinPath = WinPath::toWindows(*real, *map).value_or(s.winPath);
    s.linkChanged();
    if (!s.link->setTarget(info, shortcutWinPath))
        return win::S_FALSE; // the found place cannot be written into a link
    s.seen.clear();
    s.seen.push_back({found->winPath, FactsStatus::Found, found->facts});

    // Written back only when asked to and when the bytes really change; a
    // file that cannot be written keeps its old bytes, and the link object
    // holds the found target all the same.
    LinkRepair repair{request.oldTarget, found->winPath, LinkRepair::Outcome::NotAsked, 0, false};
    const QByteArray bytes = s.link->serialize();
    // Only a file of the drive the shortcut was found on is changed: one in
    // the drive's folder, or in a folder its Wine prefix links into it.
    const auto driveFolderHolding = [&]() -> QByteArray {
        const std::optional<QByteArray> folder = map->folder(s.winPath.at(0));
        const std::optional<QByteArray> root = folder ? posix::realPath(*folder) : std::nullopt;
        const std::optional<QByteArray> real = posix::realPath(s.posixPath);
        if (!root || !real)
            return QByteArray();
        const std::optional<QByteArray> holding = context.profileLinks.of(*root).folderHolding(*real);
        if (!context.sharing)
            context.profileLinks.forget();
        return holding.value_or(QByteArray());
    };
    if (!(flags & win::SLR_UPDATE) || (flags & SLR_NOUPDATE)) {
        // Not asked to write: what writing would come to, so that a dry run
        // promises no repair the real run cannot make.
        if (bytes != s.bytes) {
            const LinkWriter::Result would =
                context.writer.wouldReplace(s.posixPath, s.stamp, driveFolderHolding());
            if (would.outcome != LinkWriter::Outcome::Written) {
                repair.outcome = repairOutcome(would.outcome);
                repair.error = would.error;
                repair.predicted = true;
            }
        }
    } else {
        repair.outcome = LinkRepair::Outcome::Written;
        if (bytes != s.bytes) {
            const LinkWriter::Result written =
                context.writer.replace(s.posixPath, bytes, s.stamp, driveFolderHolding(),
                                       {s.winPath, request.oldTarget, found->winPath});
            repair.outcome = repairOutcome(written.outcome);
            repair.error = written.error;
            if (written.outcome == LinkWriter::Outcome::Written) {
                s.bytes = bytes;
                s.stamp = written.stamp;
            }
        }
    }
    verdict.repair = repair;
    return win::S_OK;
}

} // namespace

ShellLinkService::ShellLinkService(std::shared_ptr<const DriveContext> drives)
    : m_context(std::make_shared<Context>(std::move(drives)))
{}

ShellLinkService::~ShellLinkService() = default;

LinkVerdict ShellLinkService::judge(const QString &shortcut, const Options &options)
{
    return judgeAt(shortcut, std::nullopt, options);
}

LinkVerdict ShellLinkService::judgeFile(const QByteArray &posixPath, const QString &shownPath,
                                        const Options &options)
{
    return judgeAt(shownPath, posixPath, options);
}

LinkVerdict ShellLinkService::judgeAt(const QString &shortcut, const std::optional<QByteArray> &posixPath,
                                      const Options &options)
{
    LinkVerdict verdict;
    verdict.shortcut = shortcut;
    ServiceShellLink link(m_context);
    ServicePersistFile file(link.sharedState());
    if (win::FAILED(file.loadFile(shortcut, posixPath))) {
        verdict.status =
            link.state().loadedNoShortcut ? LinkVerdict::Status::NotShortcut : LinkVerdict::Status::Skipped;
        verdict.reason = link.state().loadFailure;
        return verdict;
    }

    quint32 flags = win::SLR_NO_UI | (std::min<quint32>(options.timeLimitMs, 0xFFFF) << 16);
    if (options.writeRepairs)
        flags |= win::SLR_UPDATE;
    if (!options.search)
        flags |= win::SLR_NOSEARCH;
    const win::HRESULT resolved = link.resolve(flags, verdict, options.everyForm);
    const LnkFile &loaded = *link.state().link;
    // The path Windows would show, for a target that exists in no form.
    const auto shownPath = [&] { return loaded.targetPath(true, shortcut).value_or(QString()); };

    if (win::FAILED(resolved)) {
        verdict.status = LinkVerdict::Status::Unjudged;
        if (verdict.reason.isEmpty())
            verdict.reason = QStringLiteral("the link service could not judge its target");
        verdict.target = shownPath();
    } else if (verdict.repair) {
        verdict.status =
            verdict.repair->failed() ? LinkVerdict::Status::RepairNotWritten : LinkVerdict::Status::Repaired;
        verdict.target = shownPath(); // as the link now holds it
        if (verdict.repair->failed())
            verdict.reason = verdict.repair->failureText();
    } else if (verdict.decidingLook >= 0) {
        verdict.status = LinkVerdict::Status::Healthy;
        verdict.target = verdict.looks.at(verdict.decidingLook).reading;
    } else if (resolved == win::S_FALSE) {
        verdict.status = LinkVerdict::Status::Broken;
        verdict.target = shownPath();
        verdict.reason = QStringLiteral("no form of its target exists, and it was not found elsewhere");
        for (qsizetype i = 0; i < verdict.looks.size(); ++i) {
            if (verdict.looks.at(i).reading == verdict.target) {
                verdict.decidingLook = int(i);
                break;
            }
        }
        // Paths are handed on in buffers of MAX_PATH characters: a longer
        // one cannot be listed whole.
        if (verdict.target.size() >= qsizetype(win::MAX_PATH)) {
            verdict.status = LinkVerdict::Status::Unjudged;
            verdict.reason = QStringLiteral("its target path is longer than 260 characters");
        }
    } else {
        verdict.status = LinkVerdict::Status::Healthy;
        verdict.reason = QStringLiteral("it has no file-system target");
    }
    verdict.remote = !verdict.target.isEmpty() && !WinPathText::sameDrive(shortcut, verdict.target);
    return verdict;
}

win::HRESULT ShellLinkService::CoCreateInstance(std::unique_ptr<ShellLink> &out)
{
    out = std::make_unique<ServiceShellLink>(m_context);
    return win::S_OK;
}

void ShellLinkService::setProgressHook(std::function<void()> hook, int intervalMs)
{
    m_context->hook = std::move(hook);
    m_context->hookIntervalMs = std::max(0, intervalMs);
    // A repair waits for its file to reach the disk; the hook runs meanwhile
    // (repairs are made inside a Resolve, which the hook cannot re-enter).
    m_context->writer.setWaitHook(m_context->hook);
}

void ShellLinkService::shareListings(bool on)
{
    if (on == m_context->sharing)
        return;
    m_context->sharing = on;
    m_context->profileLinks.forget();
}

FolderListingSource *ShellLinkService::listingSource()
{
    return m_context->sharing ? &m_context->listings : nullptr;
}

void ShellLinkService::beginScan(std::function<void()> progress)
{
    setProgressHook(std::move(progress));
    shareListings(true);
}

void ShellLinkService::stopWhen(std::function<bool()> stop)
{
    m_context->stop = std::move(stop);
}

void ShellLinkService::endScan()
{
    m_context->stop = {};
    shareListings(false);
    setProgressHook({});
    clearCaches();
}

void ShellLinkService::clearCaches()
{
    if (!m_context->searching)
        m_context->index.clear();
}

qsizetype ShellLinkService::cachedEntries() const
{
    return m_context->index.entryCount();
}

void ShellLinkService::setJournal(std::shared_ptr<ChangeJournal> journal)
{
    m_context->writer.setJournal(std::move(journal));
}

const std::shared_ptr<ChangeJournal> &ShellLinkService::journal() const
{
    return m_context->writer.journal();
}

LinkWriter &ShellLinkService::linkWriter()
{
    return m_context->writer;
}

TargetLook &ShellLinkService::targetLook()
{
    return m_context->look;
}
