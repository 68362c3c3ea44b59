#pragma once

#include <QString>
#include <QStringList>

// What the scan's presenter (WindowScan) does to the main window. TForm2
// implements it over its controls; tests implement it with a recording
// fake. Every call happens on the user-interface thread.
class ScanWindow
{
public:
    enum class Button { Btdelete, Btscan };

    virtual ~ScanWindow() = default;

    // The application-wide wait cursor: on, or back to the default.
    virtual void setWaitCursor(bool on) = 0;
    // Left edge of the busy indicator WebBrowser1 (199 shows it over Image2,
    // 881 puts it outside the client area); its top stays as it is.
    virtual void setBusyIndicatorLeft(int left) = 0;
    virtual void setLabel1Text(const QString &text) = 0;
    // The line beside the count that tells what else the scan did (repairs,
    // places it could not read); `details` names each of them, one a line.
    // Empty text hides it.
    virtual void setReportLine(const QString &text, const QStringList &details)
    {
        Q_UNUSED(text);
        Q_UNUSED(details);
    }
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
    // stops at the next entry and appends nothing more; the window keeps
    // itself alive until ScanShortcuts has returned.
    virtual bool closing() const = 0;
};
