#pragma once

// What the link service makes of one shortcut file, reached once and told
// the same everywhere: the scan lists it by this value, the command line
// prints it, the window shows it. Nobody looks at the target's forms again
// or decides a second time whether the target exists.

#include "lnk/LnkFile.h"

#include <QList>
#include <QString>

#include <optional>

// What was seen at one reading of one form of the target.
struct FormLook
{
    enum class Seen {
        File,
        Folder,
        Missing,
        Unreadable, // the place exists but may not be looked at (access denied, I/O error)
        TooLong,    // longer than the system takes
        NoAnswer,   // its place did not answer in time
        NotFormed,  // a variable that cannot be expanded: no place at all
        OtherEntry, // a relative path that leads to another entry: no form of this target
        NotLooked,  // a form after the one that decided, not looked at
    };

    LnkFormSource source = LnkFormSource::IdList;
    // The form as the link stores it (a variable or a relative path), when
    // it differs from the place it names.
    QString stored;
    QString reading;            // the Windows-form place looked at
    bool otherCodePage = false; // an ANSI form read in another code page
    Seen seen = Seen::NotLooked;

    bool exists() const { return seen == Seen::File || seen == Seen::Folder; }
    // Whether this look leaves the target impossible to judge by itself.
    bool undecided() const
    {
        return seen == Seen::Unreadable || seen == Seen::TooLong || seen == Seen::NoAnswer;
    }
};

// A target found again at another place, and what became of the file.
struct LinkRepair
{
    enum class Outcome {
        NotAsked,      // the check was not asked to write: nothing written
        Written,       // the file now holds the new target
        ReadOnly,      // nobody may write the file: it keeps the old target
        Changed,       // the file changed on disk since it was read: left alone
        Shared,        // other names lead to the file, or it lies off the drive: left alone
        Failed,        // writing failed (`error` holds the errno): it keeps the old target
        NotJournalled, // the change could not be journalled (`error`): it keeps the old target
    };

    QString oldTarget;
    QString newTarget;
    Outcome outcome = Outcome::NotAsked;
    int error = 0;
    // Not asked to write: `outcome` is what writing would have come to.
    bool predicted = false;

    bool written() const { return outcome == Outcome::Written; }
    bool failed() const { return outcome != Outcome::NotAsked && outcome != Outcome::Written; }
    // Why the file was not written; empty when it was, or was not asked to be.
    QString failureText() const;
};

struct LinkVerdict
{
    enum class Status {
        Healthy,          // a form of its target exists (or it has no file-system target)
        Repaired,         // its target was found again (and written, unless not asked to)
        RepairNotWritten, // its target was found again, but the file could not be written
        Broken,           // no form of its target exists, and it was not found elsewhere
        Unjudged,         // its target could not be looked at: neither listed nor changed
        NotShortcut,      // the file is not a shortcut (damaged, not a regular file, too large)
        Skipped,          // the file could not be read, or the check was stopped
    };

    QString shortcut; // Windows form
    Status status = Status::Skipped;
    // Why, in words, for every status but Healthy and Repaired (for those,
    // what is worth knowing: "no file-system target").
    QString reason;
    // Every reading of every form of the target, in the order the check
    // tries them, with what was seen there.
    QList<FormLook> looks;
    // The look the verdict goes by: the place that exists, or the form the
    // target path below was taken from; -1 for none.
    int decidingLook = -1;
    // The target the verdict goes by: the place that exists, the place it
    // was found again at, or (broken, unjudged) the path Windows would show.
    // Empty for a link without a file-system target.
    QString target;
    std::optional<LinkRepair> repair;
    // The target lies on another drive or a share than the shortcut.
    bool remote = false;

    // A broken shortcut, as the lists take it: with "ignore remote", only
    // one whose target is on its own drive.
    bool listed(bool ignoreRemote) const { return status == Status::Broken && !(ignoreRemote && remote); }
    // The file was looked at, but its verdict could not be reached.
    bool passedOver() const
    {
        return status == Status::Unjudged || status == Status::NotShortcut || status == Status::Skipped;
    }

    static QString statusName(Status status);
};
