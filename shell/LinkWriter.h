#pragma once

// Replaces a shortcut file with new bytes the safe way: a new file beside
// it (same folder, exclusive temporary name), written and flushed, then
// renamed over the old one, so the shortcut is at every moment either the
// old file or the new one, never half written. A symbolic link is written
// through: the file it points to is replaced and the link stays a link. The
// new file keeps the old one's permission bits, owner, group and extended
// attributes (POSIX ACLs included); when they cannot be kept, nothing is
// written. A file that changed on disk since it was loaded, or that nobody
// may write, is left alone, and so is a file that other places share: one
// with other names (hard links), which a new file would split from them,
// or one that lies outside the folder its caller may change.

#include "platform/PosixPath.h"

#include <QByteArray>

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include <sys/stat.h>

class ChangeJournal;

// What identifies the contents of a file as it was read.
struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;

    static FileStamp of(const struct stat &st);
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

class LinkWriter
{
public:
    enum class Step { CreateTemp, Write, Sync, Journal, Rename };
    enum class Outcome {
        Written,
        ReadOnly,      // nobody may write the file (no write bit, or access denied)
        Changed,       // the file on disk is not the one that was loaded
        Shared,        // other names lead to the file, or it lies outside `within`
        Failed,        // an error; `error` holds the errno
        NotJournalled, // the change could not be journalled (`error`): nothing written
    };
    // What the journal says of a replacement besides the file and its bytes.
    struct Note
    {
        QString winPath;
        QString oldTarget;
        QString newTarget;
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        int error = 0;
        FileStamp stamp; // of the new file, when written
    };

    // Test seam: called before each step; a non-zero errno makes that step
    // fail as if the system call had returned it.
    using FaultHook = std::function<int(Step)>;
    void setFaultHook(FaultHook hook) { m_faultHook = std::move(hook); }

    // Every replacement is recorded here (the file's old bytes read from
    // the file itself, its device and inode, the new contents' digest) and
    // flushed to disk before the new file is renamed into place; one that
    // cannot be recorded is not made. Without a journal nothing is recorded.
    void setJournal(std::shared_ptr<ChangeJournal> journal) { m_journal = std::move(journal); }
    const std::shared_ptr<ChangeJournal> &journal() const { return m_journal; }

    // Runs every few milliseconds while the new file is flushed to disk,
    // which on a slow or busy disk can take a while (the caller keeps its
    // window alive with it). The flush is always waited for.
    void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }

    // Replaces the file at posixPath (followed through symbolic links) with
    // bytes, provided it is still the file described by `loaded`, it has no
    // other hard link, and the real file lies in the folder `within`
    // (canonical; the drive the shortcut was found on).
    Result replace(const QByteArray &posixPath, const QByteArray &bytes, const FileStamp &loaded,
                   const QByteArray &within, const Note &note = {}) const;
    // What replace() would come to, without writing anything: every check
    // it makes before it begins (the file as loaded, not shared, writable,
    // no immutable or append-only flag on it or its folder), and whether a
    // new file may be made in its folder. Written when nothing stands in
    // the way that can be seen beforehand.
    Result wouldReplace(const QByteArray &posixPath, const FileStamp &loaded, const QByteArray &within) const;

private:
    // The file and its folder, open and checked, ready to be replaced.
    struct Prepared
    {
        QByteArray realPath, folder, baseName;
        posix::UniqueFd original, dir;
        struct stat st = {};
    };
    std::variant<Prepared, Result> prepare(const QByteArray &posixPath, const FileStamp &loaded,
                                           const QByteArray &within) const;

    int fault(Step step) const { return m_faultHook ? m_faultHook(step) : 0; }
    int sync(int fd) const;

    FaultHook m_faultHook;
    std::function<void()> m_waitHook;
    std::shared_ptr<ChangeJournal> m_journal;
};
