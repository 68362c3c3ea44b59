#include "shell/JournalUndo.h"

#include "platform/PosixPath.h"
#include "platform/ReplaceFile.h"
#include "shell/LinkWriter.h"
#include "shell/ShellLinkService.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether anything stands at a path (a symbolic link counts, wherever it
// leads); errors other than "nothing there" count as something.
bool somethingAt(const QByteArray &path, struct stat *info = nullptr)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0) {
        if (info)
            *info = st;
        return true;
    }
    return errno != ENOENT && errno != ENOTDIR;
}

// Moves a file to a place where nothing stands, never over anything.
int moveNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno;
}

} // namespace

int JournalUndo::Report::count(Item::Result result) const
{
    return int(std::count_if(items.cbegin(), items.cend(),
                             [result](const Item &item) { return item.result == result; }));
}

int JournalUndo::Report::left() const
{
    return count(Item::Result::ChangedSince) + count(Item::Result::Gone) + count(Item::Result::Failed);
}

QString JournalUndo::Report::leftText() const
{
    const int n = left();
    if (n == 0)
        return QString();
    return QStringLiteral(", %1 left as %2")
        .arg(n)
        .arg(n == 1 ? QStringLiteral("it is") : QStringLiteral("they are"));
}

bool JournalUndo::Report::complete() const
{
    return !stopped && std::all_of(items.cbegin(), items.cend(), [](const Item &item) {
        return item.result == Item::Result::Restored || item.result == Item::Result::AlreadyAsBefore;
    });
}

JournalUndo::JournalUndo(std::shared_ptr<ChangeJournal> journal, std::function<bool()> stop)
    : m_journal(std::move(journal)), m_stop(std::move(stop))
{}

std::shared_ptr<ChangeJournal> JournalUndo::journalFor(const JournalRun &run, const QByteArray &folder)
{
    return std::make_shared<ChangeJournal>(QStringLiteral("undo %1").arg(run.name), run.name, folder);
}

JournalUndo::Report JournalUndo::undo(const JournalRun &run)
{
    Report report;
    for (auto change = run.changes.crbegin(); change != run.changes.crend(); ++change) {
        if (m_stop && m_stop()) {
            report.stopped = true;
            break;
        }
        switch (change->kind) {
        case JournalChange::Kind::Replace:
            undoReplace(*change, report);
            break;
        case JournalChange::Kind::Trash:
            undoTrash(*change, report);
            break;
        case JournalChange::Kind::Untrash:
            undoUntrash(*change, report);
            break;
        }
    }
    return report;
}

void JournalUndo::undoReplace(const JournalChange &change, Report &report)
{
    Item item{change.path, change.winPath, Item::Result::Failed, QString()};
    const auto done = [&](Item::Result result, const QString &reason = {}) {
        item.result = result;
        item.reason = reason;
        report.items.append(item);
    };

    // The file itself, as it is now: no symbolic link, nothing but a file.
    const posix::UniqueFd fd(
        ::open(change.path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return done(Item::Result::Gone, QStringLiteral("it was deleted since"));
        if (errno == ELOOP)
            return done(Item::Result::ChangedSince,
                        QStringLiteral("a symbolic link stands at its place now"));
        return done(Item::Result::Failed, errorText(errno));
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return done(Item::Result::Failed, errorText(errno));
    if (!S_ISREG(st.st_mode))
        return done(Item::Result::ChangedSince, QStringLiteral("it is no longer a plain file"));
    int error = 0;
    const std::optional<QByteArray> now =
        posix::readUpTo(fd.get(), ShellLinkService::kMaxLinkFileSize, st.st_size, &error);
    if (!now)
        return done(Item::Result::Failed, errorText(error));

    if (*now == change.oldBytes)
        return done(Item::Result::AlreadyAsBefore, QStringLiteral("it holds what it held before"));
    if (now->size() != change.newSize || JournalChange::digest(*now) != change.newSha256)
        return done(Item::Result::ChangedSince, QStringLiteral("it changed since"));

    LinkWriter writer;
    writer.setJournal(m_journal);
    const LinkWriter::Result written =
        writer.replace(change.path, change.oldBytes, FileStamp::of(st), posix::parentPath(change.path),
                       {change.winPath, change.newTarget, change.oldTarget});
    switch (written.outcome) {
    case LinkWriter::Outcome::Written:
        return done(Item::Result::Restored);
    case LinkWriter::Outcome::Changed:
        return done(Item::Result::ChangedSince, QStringLiteral("it changed while it was being put back"));
    case LinkWriter::Outcome::ReadOnly:
        return done(Item::Result::Failed, QStringLiteral("the file may not be written"));
    case LinkWriter::Outcome::Shared:
        return done(Item::Result::Failed, QStringLiteral("other names lead to the same file now"));
    case LinkWriter::Outcome::NotJournalled:
        return done(Item::Result::Failed, QStringLiteral("the undo could not be recorded in the journal (%1)")
                                              .arg(errorText(written.error)));
    case LinkWriter::Outcome::Failed:
        break;
    }
    done(Item::Result::Failed, errorText(written.error));
}

void JournalUndo::reverseMoves(const JournalChange &change, JournalChange::Kind reversal, const Check &check,
                               const Move &move, Report &report)
{
    // Every file that can be moved is journalled first, then moved, so that
    // the undo can be undone in turn; when it cannot be journalled, nothing
    // moves.
    QList<TrashEntry> moving;
    QList<Item> items;
    for (const TrashEntry &file : change.files) {
        Item item{file.path, file.path == change.files.first().path ? change.winPath : QString(),
                  Item::Result::Failed, QString()};
        check(file, item);
        if (item.result == Item::Result::Restored)
            moving.append(file);
        items.append(item);
    }
    JournalChange recorded;
    recorded.kind = reversal;
    recorded.winPath = change.winPath;
    recorded.files = moving;
    if (const int error = moving.isEmpty() ? 0 : m_journal->record(recorded)) {
        for (Item &item : items) {
            if (item.result == Item::Result::Restored) {
                item.result = Item::Result::Failed;
                item.reason = QStringLiteral("the undo could not be recorded in the journal (%1)")
                                  .arg(errorText(error));
            }
        }
    }
    // The files to move are the items still to restore, in their order.
    qsizetype next = 0;
    for (Item &item : items) {
        if (item.result != Item::Result::Restored)
            continue;
        if (QString reason = move(moving.at(next++)); !reason.isEmpty()) {
            item.result = Item::Result::Failed;
            item.reason = std::move(reason);
        }
    }
    report.items.append(items);
}

void JournalUndo::undoTrash(const JournalChange &change, Report &report)
{
    const auto check = [](const TrashEntry &file, Item &item) {
        struct stat st = {};
        if (file.trashPath.isEmpty()) {
            item.reason = QStringLiteral("where the trash keeps it is not known; restore it from the trash");
        } else if (somethingAt(file.path)) {
            item.result = Item::Result::ChangedSince;
            item.reason = QStringLiteral("something stands at its place again; it stays in the trash");
        } else if (!somethingAt(file.trashPath, &st)) {
            item.result = Item::Result::Gone;
            item.reason = QStringLiteral("it is no longer in the trash");
        } else if (quint64(st.st_dev) != file.device || quint64(st.st_ino) != file.inode) {
            item.result = Item::Result::ChangedSince;
            item.reason = QStringLiteral("the trash holds another file under its name");
        } else {
            item.result = Item::Result::Restored;
        }
    };
    const auto back = [](const TrashEntry &file) {
        if (const int error = moveNoReplace(file.trashPath, file.path))
            return error == ENOENT ? QStringLiteral("its folder is gone") : errorText(error);
        // The trash's note goes with it; a note left behind names nothing.
        ::unlink(file.infoPath.constData());
        return QString();
    };
    reverseMoves(change, JournalChange::Kind::Untrash, check, back, report);
}

void JournalUndo::undoUntrash(const JournalChange &change, Report &report)
{
    const auto check = [](const TrashEntry &file, Item &item) {
        struct stat st = {};
        if (!somethingAt(file.path, &st)) {
            item.result = Item::Result::Gone;
            item.reason = QStringLiteral("it was deleted since");
        } else if (quint64(st.st_dev) != file.device || quint64(st.st_ino) != file.inode) {
            item.result = Item::Result::ChangedSince;
            item.reason = QStringLiteral("another file stands at its place now");
        } else if (somethingAt(file.trashPath) || somethingAt(file.infoPath)) {
            item.reason = QStringLiteral("the trash holds another file under its name");
        } else {
            item.result = Item::Result::Restored;
        }
    };
    const auto again = [](const TrashEntry &file) {
        // The note first, made exclusively, so that the trash never holds a
        // file it has no note on.
        const posix::UniqueFd note(
            ::open(file.infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        int error = note.isValid() ? posix::writeAll(note.get(), file.info) : errno;
        if (!error)
            error = moveNoReplace(file.path, file.trashPath);
        if (!error)
            return QString();
        if (note.isValid())
            ::unlink(file.infoPath.constData());
        return errorText(error);
    };
    reverseMoves(change, JournalChange::Kind::Trash, check, again, report);
}
