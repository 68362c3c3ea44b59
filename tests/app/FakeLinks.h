#pragma once

#include "platform/DriveContext.h"
#include "platform/FolderListing.h"
#include "platform/FolderSearch.h"
#include "shell/LinkJudge.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>

// What a fake judge makes of one shortcut path. By default the verdict
// follows the disk: healthy when `target` exists on the test's drives (or
// is empty), broken otherwise.
struct FakeLink
{
    // The file is no shortcut, or its target cannot be looked at.
    bool notShortcut = false;
    bool unjudged = false;
    QString target;
    // Runs inside the judgement, like the progress hook of a long search.
    std::function<void()> duringJudge;
};

inline FakeLink linkTo(const QString &target, std::function<void()> duringJudge = {})
{
    FakeLink link;
    link.target = target;
    link.duringJudge = std::move(duringJudge);
    return link;
}

// A listing source that keeps nothing and counts the walks that asked it.
struct CountingListings : FolderListingSource
{
    quint32 startFolder(const QByteArray &, const FileIdentity &) override
    {
        ++starts;
        return 0;
    }
    bool listing(quint32, FolderListing &) override { return false; }
    void beginListing(quint32, const FolderStamp &) override {}
    void addEntries(quint32, const FolderListing &, size_t) override {}
    bool endListing(quint32, FolderListing &) override { return false; }
    void dropListing(quint32) override {}
    int starts = 0;
};

// A judge that answers from `links` (a path it does not know is no
// shortcut) and logs every judgement.
class FakeLinks : public LinkJudge
{
public:
    FakeLinks(QStringList &log, std::shared_ptr<const DriveContext> drives)
        : m_log(log), m_drives(std::move(drives))
    {}

    QHash<QString, FakeLink> links;
    // Every path judged, in order.
    QStringList loaded;
    // The options of the last judgement.
    Options lastOptions;
    // The scan's bracket: "begin", "judge" for every shortcut, "end".
    QStringList scanSteps;
    // The progress hook while a scan runs; empty otherwise.
    std::function<void()> progress;
    // What scanListings() offers while a scan runs.
    CountingListings listings;

    void beginScan(std::function<void()> hook) override
    {
        scanSteps << QStringLiteral("begin");
        progress = std::move(hook);
        m_scanning = true;
    }
    FolderListingSource *scanListings() override { return m_scanning ? &listings : nullptr; }
    void endScan() override
    {
        scanSteps << QStringLiteral("end");
        progress = {};
        m_scanning = false;
    }

    LinkVerdict judge(const QString &shortcut, const Options &options) override
    {
        m_log << QStringLiteral("judge %1").arg(shortcut);
        scanSteps << QStringLiteral("judge");
        loaded << shortcut;
        lastOptions = options;
        LinkVerdict verdict;
        verdict.shortcut = shortcut;
        const auto found = links.constFind(shortcut);
        if (found == links.constEnd() || found->notShortcut) {
            verdict.status = LinkVerdict::Status::NotShortcut;
            verdict.reason = QStringLiteral("not a shortcut");
            return verdict;
        }
        if (found->duringJudge)
            found->duringJudge();
        verdict.target = found->target;
        verdict.remote = !verdict.target.isEmpty() &&
                         verdict.target.left(2).compare(shortcut.left(2), Qt::CaseInsensitive) != 0;
        if (found->unjudged) {
            verdict.status = LinkVerdict::Status::Unjudged;
            verdict.reason = QStringLiteral("its target cannot be looked at");
        } else if (verdict.target.isEmpty() ||
                   getFileAttributes(*m_drives, verdict.target) != win::INVALID_FILE_ATTRIBUTES) {
            verdict.status = LinkVerdict::Status::Healthy;
        } else {
            verdict.status = LinkVerdict::Status::Broken;
        }
        return verdict;
    }

private:
    QStringList &m_log;
    std::shared_ptr<const DriveContext> m_drives;
    bool m_scanning = false;
};
