#pragma once

// The journal of every change the program makes to users' files, so that
// each one can be undone. One run (a scan of the window, `repair`, a move
// to the trash, an undo) writes one file in $XDG_STATE_HOME/linkmend/
// (~/.local/state/linkmend/ without it), named by the date and time the run
// made its first change: 20250518-143012.journal (-2, -3... when two runs
// begin within the same second). A run that changes nothing leaves no file.
//
// The file is JSON Lines: a first line that names the run, then one line
// per change, each appended and flushed to disk before the change is made.
// A change that is cut off (the process killed while its line was being
// written) has no line end and was never made; readers pass over it.
//
// Replacing a shortcut records its path (exact bytes), Windows path,
// device and inode, its whole old contents, the size and SHA-256 of the
// new contents, and the old and new target. Moving files to the trash
// records, for each file, where it stood, its device and inode, where the
// trash keeps it and the trash's note on it (.trashinfo, whole), so that
// the file can be put back and the note removed, or the other way round.
//
// Journals older than 90 days are removed when a new one is made, and so
// are the oldest ones while all of them together hold more than 64 MiB;
// the newest one is always kept.

#include "platform/PosixPath.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

// One file moved to the trash (or back out of it).
struct TrashEntry
{
    QByteArray path;      // where it stood (and stands again once put back)
    QByteArray trashPath; // the trash's copy: <trash>/files/<name>
    QByteArray infoPath;  // the trash's note: <trash>/info/<name>.trashinfo
    QByteArray info;      // the note's bytes
    quint64 device = 0;
    quint64 inode = 0;
};

struct JournalChange
{
    enum class Kind {
        Replace, // a shortcut file rewritten
        Trash,   // files moved to the trash
        Untrash, // files put back from the trash (an undo of Trash)
    };
    Kind kind = Kind::Replace;

    // Replace: the file, as the writer found it.
    QByteArray path; // real path, exact bytes
    QString winPath; // the shortcut's Windows path, where it has one
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray oldBytes;
    QByteArray newSha256; // raw digest of the new contents
    qint64 newSize = 0;
    QString oldTarget;
    QString newTarget;

    // Trash, Untrash: every file of one shortcut (the shortcut and whatever
    // goes with it), in the order they were moved.
    QList<TrashEntry> files;

    static QByteArray digest(const QByteArray &bytes);
};

// A journal as read back.
struct JournalRun
{
    QString name;    // "20250518-143012"
    QByteArray file; // its path
    QDateTime started;
    QString what;   // what the run was: "repair c:", "window scan of c:", "trash", "undo 20250518-143012"
    QString undoes; // for an undo: the run it undid
    QList<JournalChange> changes;
    // A last change whose line was cut off: it was never made.
    bool torn = false;
};

class ChangeJournal
{
public:
    static constexpr int kMaxAgeDays = 90;
    static constexpr qint64 kMaxTotalBytes = qint64(64) << 20;

    // A journal for one run, in `folder` (empty: defaultFolder()). `what`
    // says what the run is; `undoes` names the run an undo undoes. Nothing
    // is written until the first change.
    explicit ChangeJournal(QString what, QString undoes = {}, QByteArray folder = {});
    ~ChangeJournal();
    ChangeJournal(const ChangeJournal &) = delete;
    ChangeJournal &operator=(const ChangeJournal &) = delete;

    // $XDG_STATE_HOME/linkmend (when that is an absolute path), else
    // $HOME/.local/state/linkmend.
    static QByteArray defaultFolder();

    // Appends a change and flushes it to disk; the first one makes the
    // run's file (and removes journals beyond the limits). Returns 0, or
    // the errno of the step that failed: the change must then not be made.
    // `flush`, when given, brings an open file to the disk in place of
    // fsync (a window's caller flushes on a worker thread and stays served
    // meanwhile); it returns 0 or an errno.
    using Flush = std::function<int(int fd)>;
    int record(const JournalChange &change, const Flush &flush = {});

    // The run's name and file; empty until the first change.
    const QString &runName() const { return m_name; }
    const QByteArray &filePath() const { return m_path; }
    int changeCount() const { return m_changes; }
    int replaceCount() const { return m_replaces; }

    // Every run in `folder` (empty: defaultFolder()), oldest first.
    static QList<JournalRun> runs(const QByteArray &folder = {});
    // One journal file; nothing when it cannot be read or is none.
    static std::optional<JournalRun> read(const QByteArray &file);
    // The run called `name`, or the newest one for "--last"; the reason in
    // words when there is none.
    static std::variant<JournalRun, QString> find(const QString &name, const QByteArray &folder = {});

private:
    int open();
    // Removes the file begun for this run and forgets it.
    void discard();
    void prune() const;

    QString m_what;
    QString m_undoes;
    QByteArray m_folder;
    QString m_name;
    QByteArray m_path;
    posix::UniqueFd m_fd;
    int m_changes = 0;
    int m_replaces = 0;
    bool m_broken = false;
};
