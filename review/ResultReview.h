#pragma once

#include "review/ReviewHost.h"

#include <QString>

class LinkJudge;
class ShellServices;

// The result-list actions of the main window: where a listed shortcut points
// (a click or keyboard selection), its folder (a double-click), and deleting
// the ticked shortcuts to the trash. The window's handlers forward here.
class ResultReview
{
public:
    // All three must outlive this object.
    ResultReview(ReviewHost &host, LinkJudge &links, ShellServices &shell);

    // The selection of a list changed by mouse or keyboard: the list's tool
    // tip becomes "Points to " and the target the selected shortcut holds now
    // (read afresh, never resolved, so the file is never rewritten). Nothing
    // when no entry is selected.
    void showTarget(ResultList list);

    // A double-click: opens the folder that holds the selected shortcut.
    void openFolderOf(ResultList list);

    // The delete button: moves every ticked shortcut to the trash in one
    // request (the shell services take Wine's launchers of them along). If the user declines, nothing
    // changes. Otherwise the unticked entries and the ticked ones whose files are gone leave both lists and
    // the shortcut paths together; ticked shortcuts whose files are still
    // there stay listed and ticked, and the count line says how many. The
    // button stays enabled while anything is left to delete.
    void deleteTicked();

private:
    ReviewHost &m_host;
    LinkJudge &m_links;
    ShellServices &m_shell;
};
