#pragma once

#include "cli/RunDrives.h"

#include <QByteArray>

class ShellLinkService;

// The `show` command for one shortcut file: what the codec reads in it
// (header flags and times, every form of its target and whether it exists)
// and what the check makes of it, with the reason. The check is the scan's
// own, run without the update flag: nothing is ever written.
struct ShortcutShow
{
    enum class Verdict { NotShortcut, NotBroken, Broken, NotJudged };

    Verdict verdict = Verdict::NotShortcut;
    // For NotShortcut, one line saying why; otherwise the whole account,
    // several lines, each ended by a line end.
    QByteArray text;

    static ShortcutShow describe(const RunDrives::Place &place, ShellLinkService &service,
                                 std::shared_ptr<const DriveContext> drives);
};
