#pragma once

#include "scan/ScanHost.h"

#include <QStringList>

// A scan host without a window: the busy state, the buttons and the list
// widths have nothing to show, and the list of recorded shortcuts is kept
// only so the scan run can read it back. Command-line hosts derive from it
// and take what they report from shortcutChecked and folderEntered.
class QuietScanHost : public ScanHost
{
public:
    void setWaitCursor(bool) override {}
    void setBusyIndicatorLeft(int) override {}
    void setLabel1Text(const QString &) override {}
    void SetButtonEnabled(Button, bool) override {}
    void clearListBox() override {}
    void appendToListBox(const QString &) override {}
    int listBoxWidth() const override { return 0; }
    void setListBoxExtent(int) override {}
    void clearCheckList() override { m_listed.clear(); }
    void appendToCheckList(const QString &text) override { m_listed << text; }
    int checkListCount() const override { return int(m_listed.size()); }
    QString checkListItem(int index) const override { return m_listed.at(index); }
    void setCheckListTicked(int, bool) override {}
    int checkListTextWidth(const QString &) const override { return 0; }
    void setCheckListExtent(int) override {}
    bool ignoreRemoteShortcuts() const override { return false; }
    void dispatchPendingEvents() override {}
    bool closing() const override { return false; }

private:
    QStringList m_listed;
};
