#pragma once

#include "shell/ChangeJournal.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// Puts back what one journalled run changed, newest change first, and only
// where the disk is still as the run left it:
// - a shortcut the run rewrote gets its old bytes back (written the safe
//   way, like a repair) when it holds exactly the bytes the run wrote; one
//   that changed since, or was deleted since, is named and left alone, and
//   one that holds its old bytes already (the run was stopped before the
//   change was made) is named as such;
// - a file the run moved to the trash is put back at its place, and the
//   trash's note on it removed, when the trash still holds that file and
//   nothing stands at its place; an undo's "put back" is undone by moving
//   the file to the same place in the trash again, with the same note.
// Every change the undo makes is journalled first, in a run of its own, so
// an undo can be undone.
class JournalUndo
{
public:
    struct Item
    {
        enum class Result {
            Restored,        // put back as it was before the run
            AlreadyAsBefore, // it holds what it held before the run
            ChangedSince,    // changed since the run: left alone
            Gone,            // deleted since the run (or gone from the trash): nothing to put back
            Failed,          // could not be put back: `reason` says why
        };
        QByteArray path; // exact bytes
        QString winPath; // the shortcut's Windows path, where there is one
        Result result = Result::Failed;
        QString reason;
    };
    struct Report
    {
        QList<Item> items;
        bool stopped = false;
        int count(Item::Result result) const;
        // Changes left as they are (changed or deleted since, or failed),
        // and the words for them: ", 2 left as they are"; empty for none.
        int left() const;
        QString leftText() const;
        // Whether everything the run changed is as before it now.
        bool complete() const;
    };

    // `journal` records what the undo changes; `stop` is asked between
    // changes (Ctrl-C): true ends the undo there.
    JournalUndo(std::shared_ptr<ChangeJournal> journal, std::function<bool()> stop = {});

    Report undo(const JournalRun &run);

    // The journal for undoing `run`: "undo <run>", saying which run it undoes.
    static std::shared_ptr<ChangeJournal> journalFor(const JournalRun &run, const QByteArray &folder = {});

private:
    void undoReplace(const JournalChange &change, Report &report);
    void undoTrash(const JournalChange &change, Report &report);
    void undoUntrash(const JournalChange &change, Report &report);
    // Reverses a move to or from the trash: `check` tells each file's item
    // (Restored for one to move), the moves are journalled as `reversal`,
    // then `move` makes each (an empty reason when it was made). When the
    // journal cannot take them, no file moves and the items say why.
    using Check = std::function<void(const TrashEntry &file, Item &item)>;
    using Move = std::function<QString(const TrashEntry &file)>;
    void reverseMoves(const JournalChange &change, JournalChange::Kind reversal, const Check &check,
                      const Move &move, Report &report);

    std::shared_ptr<ChangeJournal> m_journal;
    std::function<bool()> m_stop;
};
