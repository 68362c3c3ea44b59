#pragma once

#include "app/ScanWindow.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <ostream>

// Readable failure messages for the paths and texts the tests compare.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A main window stand-in that keeps the state the scan sets and logs every
// change in order. Queries are not logged. Text widths are 7 pixels a
// character.
class FakeScanHost : public ScanWindow
{
public:
    // Shared with FakeLinks, so one log shows judgements and window changes.
    QStringList log;

    bool waitCursor = false;
    int busyLeft = 881;
    QString label1;
    bool btdeleteEnabled = false;
    bool btscanEnabled = true;
    QStringList listBox;
    QStringList checkList;
    QList<bool> ticks;
    int listBoxWidthValue = 113;
    int listBoxExtent = -1;
    int checkListExtent = -1;
    bool ignoreRemote = false;
    bool isClosing = false;
    int dispatches = 0;
    bool checkListUpdates = true;
    QElapsedTimer sinceDispatch; // invalidate to measure gaps afresh
    qint64 longestGapMs = 0;
    // Runs inside every dispatch: stands in for the user's clicks.
    std::function<void()> onDispatch;

    void setWaitCursor(bool on) override
    {
        waitCursor = on;
        log << (on ? QStringLiteral("cursor wait") : QStringLiteral("cursor default"));
    }
    void setBusyIndicatorLeft(int left) override
    {
        busyLeft = left;
        log << QStringLiteral("busy %1").arg(left);
    }
    void setLabel1Text(const QString &text) override
    {
        label1 = text;
        log << QStringLiteral("Label1 ") + text;
    }
    void SetButtonEnabled(Button button, bool enabled) override
    {
        (button == Button::Btdelete ? btdeleteEnabled : btscanEnabled) = enabled;
        log << QStringLiteral("%1 %2").arg(button == Button::Btdelete ? QStringLiteral("Btdelete")
                                                                      : QStringLiteral("Btscan"),
                                           enabled ? QStringLiteral("on") : QStringLiteral("off"));
    }
    void clearListBox() override
    {
        listBox.clear();
        log << QStringLiteral("clear ListBox1");
    }
    void appendToListBox(const QString &text) override
    {
        listBox << text;
        log << QStringLiteral("ListBox1 += ") + text;
    }
    int listBoxWidth() const override { return listBoxWidthValue; }
    void setListBoxExtent(int pixels) override
    {
        listBoxExtent = pixels;
        log << QStringLiteral("ListBox1 extent %1").arg(pixels);
    }
    void clearCheckList() override
    {
        checkList.clear();
        ticks.clear();
        log << QStringLiteral("clear CheckListBox1");
    }
    void appendToCheckList(const QString &text) override
    {
        checkList << text;
        ticks << false;
        log << QStringLiteral("CheckListBox1 += ") + text;
    }
    int checkListCount() const override { return int(checkList.size()); }
    QString checkListItem(int index) const override { return checkList.at(index); }
    void setCheckListTicked(int index, bool ticked) override
    {
        ticks[index] = ticked;
        log << QStringLiteral("tick %1").arg(index);
    }
    // Not logged: it changes nothing the user sees once the ticks are done.
    void setCheckListUpdates(bool on) override { checkListUpdates = on; }
    int checkListTextWidth(const QString &text) const override { return 7 * int(text.size()); }
    void setCheckListExtent(int pixels) override
    {
        checkListExtent = pixels;
        log << QStringLiteral("CheckListBox1 extent %1").arg(pixels);
    }
    bool ignoreRemoteShortcuts() const override { return ignoreRemote; }
    void dispatchPendingEvents() override
    {
        // The longest time the window would have gone without its events.
        if (sinceDispatch.isValid())
            longestGapMs = std::max(longestGapMs, sinceDispatch.elapsed());
        sinceDispatch.start();
        ++dispatches;
        log << QStringLiteral("dispatch");
        if (onDispatch)
            onDispatch();
    }
    bool closing() const override { return isClosing; }
    // The line beside the count (not logged).
    QString reportLine;
    QStringList reportDetails;
    void setReportLine(const QString &text, const QStringList &details) override
    {
        reportLine = text;
        reportDetails = details;
    }

    // The log without the dispatches.
    QStringList changes() const
    {
        QStringList out;
        for (const QString &line : log)
            if (line != QLatin1String("dispatch"))
                out << line;
        return out;
    }
};
