#pragma once

#include <QString>

// What the scan needs of the main window. TForm2 implements it; the scan
// logic knows no widget. Every call happens on the user-interface thread.
class ScanHost
{
public:
    enum class Button { Btdelete, Btscan };

    virtual ~ScanHost() = default;

    // The application-wide wait cursor: on, or back to the default.
    virtual void setWaitCursor(bool on) = 0;
    // Left edge of the busy indicator WebBrowser1 (199 shows it over Image2,
    // 881 puts it outside the client area); its top stays as it is.
    virtual void setBusyIndicatorLeft(int left) = 0;
    virtual void setLabel1Text(const QString &text) = 0;
    // SetButtonEnabled of the picture button Btdelete or Btscan.
    virtual void SetButtonEnabled(Button button, bool enabled) = 0;

    // ListBox1.
    virtual void clearListBox() = 0;
    virtual void appendToListBox(const QString &text) = 0;
    virtual int listBoxWidth() const = 0;
    virtual void setListBoxExtent(int pixels) = 0;

    // CheckListBox1. A new entry is unticked.
    virtual void clearCheckList() = 0;
    virtual void appendToCheckList(const QString &text) = 0;
    virtual int checkListCount() const = 0;
    virtual QString checkListItem(int index) const = 0;
    virtual void setCheckListTicked(int index, bool ticked) = 0;
    // Holds back the check list's repaints while many entries change at
    // once (false), and shows the result in one go (true).
    virtual void setCheckListUpdates(bool on) { Q_UNUSED(on); }
    // Width in pixels of a text in the check list's own font.
    virtual int checkListTextWidth(const QString &text) const = 0;
    virtual void setCheckListExtent(int pixels) = 0;

    // Whether CheckBox1 ("Ignore remote shortcuts") is ticked now.
    virtual bool ignoreRemoteShortcuts() const = 0;

    // Runs every pending event until none is left, then returns. A quit
    // request taken here must be kept for the main loop, not lost.
    virtual void dispatchPendingEvents() = 0;
    // True once the window has begun to close (FormClose ran). The scan then
    // stops at the next entry and appends nothing more; the host keeps itself
    // alive until ScanShortcuts has returned.
    virtual bool closing() const = 0;

    // What the check made of one shortcut. A host that reports more than the
    // list of broken shortcuts (counts, reasons) overrides the two calls
    // below; the window needs neither.
    enum class Verdict {
        NotLoaded,   // no link object, or the file cannot be loaded as a shortcut
        NotResolved, // the service could not judge its target
        NoPath,      // the target path could not be read (GetPath failed)
        NoTarget,    // a link without a file-system target: not broken
        TargetExists,
        Broken,      // recorded in the scan results
        BrokenRemote // broken, but passed over by "Ignore remote shortcuts"
    };
    // Called once for every shortcut the check examined, after it was
    // judged (and recorded, when broken). targetPath is what the check
    // read from the link: empty when it could not read one.
    virtual void shortcutChecked(const QString &shortcutPath, Verdict verdict, const QString &targetPath)
    {
        Q_UNUSED(shortcutPath);
        Q_UNUSED(verdict);
        Q_UNUSED(targetPath);
    }
    // Called for every folder the walk opens, the root included, before any
    // of its entries is examined (not for one that cannot be read).
    virtual void folderEntered(const QString &folder) { Q_UNUSED(folder); }
};
