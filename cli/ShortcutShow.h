#pragma once

#include "cli/RunDrives.h"

#include <QByteArray>
#include <QJsonObject>

class LinkJudge;

// The `show` command for one shortcut file: what the codec reads in it
// (header flags and times, every form of its target and whether it exists)
// and the check's verdict, with the reason. The verdict is the scan's own,
// reached without writing: nothing is ever written.
struct ShortcutShow
{
    enum class Verdict { NotShortcut, NotBroken, Broken, NotJudged };

    Verdict verdict = Verdict::NotShortcut;
    // For NotShortcut, one line saying why; otherwise the whole account,
    // several lines, each ended by a line end.
    QByteArray text;
    // The same account as one JSON object (for --json): path (and
    // pathBytes when it is not plain UTF-8 text), windowsPath, the header's
    // fields, "forms" (source, stored, place, seen), "uses" and the
    // "verdict" with its "status" and "reason".
    QJsonObject json;

    static ShortcutShow describe(const RunDrives::Place &place, LinkJudge &links);
};
