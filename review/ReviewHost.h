#pragma once

#include <QString>
#include <QStringList>

// The two result lists of the main window. Entry i of each, and entry i of
// ShortcutPaths, are the same broken shortcut (its full Windows-form path).
enum class ResultList { ListBox1, CheckListBox1 };

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
    // The tick mark of entry i of CheckListBox1.
    virtual bool isTicked(int index) const = 0;
    // Replaces the list's tool tip (its hint text).
    virtual void setToolTip(ResultList list, const QString &text) = 0;
    // Removes entry i of a list; the entries after it move up one and keep
    // their tick marks.
    virtual void removeEntry(ResultList list, int index) = 0;
    virtual void setLabel1Text(const QString &text) = 0;
    // SetButtonEnabled on the picture button Btdelete.
    virtual void setBtdeleteEnabled(bool enabled) = 0;
    // The module's result list ShortcutPaths, which the scan fills.
    virtual QStringList &shortcutPaths() = 0;
};
