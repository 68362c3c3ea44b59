#pragma once

#include "review/ReviewHost.h"
#include "shell/LinkJudge.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// The main window as the review sees it: two lists, tick marks, tool tips,
// Label1, Btdelete and ShortcutPaths.
class FakeHost : public ReviewHost
{
public:
    // Fills all three lists with the same paths, every entry ticked.
    void fill(const QStringList &paths)
    {
        listBox = paths;
        checkList = paths;
        ticks = QList<bool>(paths.size(), true);
        shortcuts = paths;
    }

    int entryCount(ResultList list) const override { return int(items(list).size()); }
    QString entry(ResultList list, int index) const override { return items(list).at(index); }
    int selectedIndex(ResultList list) const override
    {
        return list == ResultList::PlainList ? listBoxSelected : checkListSelected;
    }
    bool isTicked(int index) const override { return ticks.at(index); }
    void setToolTip(ResultList list, const QString &text) override
    {
        (list == ResultList::PlainList ? listBoxToolTip : checkListToolTip) = text;
    }
    void removeEntry(ResultList list, int index) override
    {
        if (list == ResultList::PlainList) {
            listBox.removeAt(index);
        } else {
            checkList.removeAt(index);
            ticks.removeAt(index);
        }
    }
    void setCountLine(const QString &text) override
    {
        label1 = text;
        ++label1Writes;
    }
    void setDeleteEnabled(bool enabled) override
    {
        btdeleteEnabled = enabled;
        ++btdeleteWrites;
    }
    QStringList &shortcutPaths() override { return shortcuts; }

    QStringList listBox, checkList, shortcuts;
    QList<bool> ticks;
    int listBoxSelected = -1, checkListSelected = -1;
    QString listBoxToolTip, checkListToolTip;
    QString label1 = QStringLiteral("3 Broken Shortcuts Found");
    int label1Writes = 0;
    bool btdeleteEnabled = true;
    int btdeleteWrites = 0;

private:
    const QStringList &items(ResultList list) const
    {
        return list == ResultList::PlainList ? listBox : checkList;
    }
};

// A judge that reads nothing (the deletion opens no links); counts what it
// was asked.
class NoLinks : public LinkJudge
{
public:
    int judged = 0;
    LinkVerdict judge(const QString &shortcut, const Options &) override
    {
        ++judged;
        LinkVerdict verdict;
        verdict.shortcut = shortcut;
        verdict.status = LinkVerdict::Status::Skipped;
        return verdict;
    }
};

// Catches the URLs handed to QDesktopServices (setUrlHandler).
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};
