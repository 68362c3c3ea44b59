#pragma once

#include <QString>
#include <QStringList>

// The two result lists of the main window: the check list the user sees and
// ticks, and the plain list kept beside it. Entry i of each, and entry i of
// the shortcut paths, are the same broken shortcut (its full Windows-form
// path).
enum class ResultList { PlainList, CheckList };

// What the result-list actions need from the main window. The window implements
// it over its controls and module state; tests implement it with a recording
// fake.
class ReviewHost
{
public:
    virtual ~ReviewHost() = default;

    virtual int entryCount(ResultList list) const = 0;
    virtual QString entry(ResultList list, int index) const = 0;
    // The list's selected index, -1 when no entry is selected.
    virtual int selectedIndex(ResultList list) const = 0;
    // The tick mark of entry i of the check list.
    virtual bool isTicked(int index) const = 0;
    // Replaces the list's tool tip (its hint text).
    virtual void setToolTip(ResultList list, const QString &text) = 0;
    // Removes entry i of a list; the entries after it move up one and keep
    // their tick marks.
    virtual void removeEntry(ResultList list, int index) = 0;
    // The line that counts the broken shortcuts.
    virtual void setCountLine(const QString &text) = 0;
    // Whether the delete button may be pressed.
    virtual void setDeleteEnabled(bool enabled) = 0;
    // The paths of the listed shortcuts, which the scan fills.
    virtual QStringList &shortcutPaths() = 0;
};
